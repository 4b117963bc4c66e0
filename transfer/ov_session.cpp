#include "app/log.h"
#include "platform/system_power.h"
#include "transfer/box_function_mgr.h"
#include "transfer/function_mgr.h"
#include "transfer/win_function_mgr.h"

COvSession& COvSession::Get() {
    static COvSession session;  // destroyed at process exit
    return session;
}

void COvSession::SetUp() {
    if (managers_[0] == nullptr) managers_[0] = new CWinFunctionMgr;
    if (managers_[1] == nullptr) managers_[1] = new CBoxFunctionMgr;
}

COvSession::~COvSession() {
    delete managers_[0];
    delete managers_[1];
}

bool COvSession::DoSystemShutdown() {
    LogScope scope("COvSession::DoSystemShutdown", 2);
    std::string failure;
    if (platform::RequestPowerOff(&failure)) return true;
    LogLine("Failed to shutdown: " + failure, 2);
    return false;
}
