// Pipe handles by name: the digit rule, the open flags and the open-handle count.
#include <gmock/gmock.h>

#include "driver/tests/driver_fixture.h"

namespace {

TEST_F(DriverTest, PipeNamesSelectPipesByTheirLastDigits) {
    PlugIn();
    std::unique_ptr<kernel_model::FileHandle> out = Open(u"\\PIPE00");
    std::unique_ptr<kernel_model::FileHandle> in = Open(u"\\PIPE01");
    std::unique_ptr<kernel_model::FileHandle> other = Open(u"\\any1name");
    ASSERT_TRUE(out && in && other);
    EXPECT_EQ(out->file.FsContext, &Extension()->Interface->Pipes[0]);
    EXPECT_EQ(in->file.FsContext, &Extension()->Interface->Pipes[1]);
    EXPECT_EQ(other->file.FsContext, &Extension()->Interface->Pipes[1]);
    EXPECT_EQ(Extension()->PipeOpenFlags[0], 1);
    EXPECT_EQ(Extension()->PipeOpenFlags[1], 1);
    EXPECT_EQ(Extension()->OpenHandleCount, 3);
    for (auto* handle : {out.get(), in.get(), other.get()})
        EXPECT_EQ(host_->Close(*handle), STATUS_SUCCESS);
    EXPECT_EQ(Extension()->OpenHandleCount, 0);
}

TEST_F(DriverTest, BadPipeNamesAreRefused) {
    PlugIn();
    for (const char16_t* name : {u"\\PIPE05", u"\\PIPE", u"\\PIPE02", u"\\PIPE99999999999999"}) {
        std::unique_ptr<kernel_model::FileHandle> handle;
        EXPECT_EQ(host_->Create(name, &handle), STATUS_INVALID_PARAMETER);
    }
    EXPECT_EQ(Extension()->OpenHandleCount, 0);
}

TEST_F(DriverTest, TheNumberIsTheLastRunOfDigitsWithLeadingZerosAllowed) {
    std::u16string text;
    auto parse = [&](const std::u16string& name) {
        text = name;
        UNICODE_STRING string = kernel_model::MakeUnicodeString(text);
        return OvParsePipeNumber(&string);
    };
    EXPECT_EQ(parse(u"PIPE00"), 0);
    EXPECT_EQ(parse(u"PIPE01"), 1);
    EXPECT_EQ(parse(u"7PIPE0003x"), 3);
    EXPECT_EQ(parse(u"PIPE"), -1);
    EXPECT_GT(parse(u"PIPE10"), 5);
    EXPECT_GT(parse(u"PIPE4294967297"), 5);  // would wrap to 1 in 32 bits
}

TEST_F(DriverTest, ADeviceHandleHasNoPipe) {
    PlugIn();
    std::unique_ptr<kernel_model::FileHandle> device = Open(u"");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->file.FsContext, nullptr);
    EXPECT_EQ(Extension()->OpenHandleCount, 1);
    uint8_t byte = 0;
    ULONG done = 0;
    EXPECT_EQ(host_->Transfer(*device, true, &byte, 1, &done), STATUS_INVALID_HANDLE);
    EXPECT_EQ(host_->Cleanup(*device), STATUS_SUCCESS);
    EXPECT_EQ(host_->Close(*device), STATUS_SUCCESS);
    EXPECT_EQ(Extension()->OpenHandleCount, 0);
}

TEST_F(DriverTest, CreateBeforeStartIsRefused) {
    ASSERT_EQ(host_->Load(), STATUS_SUCCESS);
    ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
    std::unique_ptr<kernel_model::FileHandle> handle;
    EXPECT_EQ(host_->Create(u"\\PIPE00", &handle), STATUS_INVALID_DEVICE_STATE);
}

TEST_F(DriverTest, ClosingAPipeClearsItsFlagSoThatAbortSkipsIt) {
    PlugIn();
    std::unique_ptr<kernel_model::FileHandle> out = Open(u"\\PIPE00");
    std::unique_ptr<kernel_model::FileHandle> in = Open(u"\\PIPE01");
    EXPECT_EQ(host_->Close(*out), STATUS_SUCCESS);
    EXPECT_EQ(Extension()->PipeOpenFlags[0], 0);
    EXPECT_EQ(host_->Pnp(IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
    EXPECT_EQ(bus_->AbortsOf(0x01), 0u);
    EXPECT_EQ(bus_->AbortsOf(0x82), 1u);
    EXPECT_EQ(host_->Close(*in), STATUS_SUCCESS);
}

TEST_F(DriverTest, AHandleFromBeforeAStopIsNotUsedAfterARestart) {
    PlugIn();
    std::unique_ptr<kernel_model::FileHandle> in = Open(u"\\PIPE01");
    ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    ASSERT_EQ(host_->Pnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    ASSERT_EQ(host_->Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    // The new interface information may lie where the old one did, as pool reuse makes it:
    // the old handle then points into the new pipes.
    in->file.FsContext = &Extension()->Interface->Pipes[1];
    uint8_t byte = 0;
    ULONG done = 0;
    EXPECT_EQ(host_->Transfer(*in, true, &byte, 1, &done), STATUS_INVALID_HANDLE);
    ULONG_PTR information = 0;
    EXPECT_EQ(host_->Control(*in, IOCTL_PVR_RESET_PIPE, nullptr, 0, &information),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(host_->Close(*in), STATUS_SUCCESS);
}

}  // namespace
