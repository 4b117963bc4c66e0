// Reads and writes: one transfer per request, the 0x80000 limit, completion and failures.
#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "driver/tests/driver_fixture.h"

using kernel_model::UsbTransferResult;

namespace {

class ReadWriteTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        PlugIn();
        out_ = Open(u"\\PIPE00");
        in_ = Open(u"\\PIPE01");
    }
    void TearDown() override {
        for (auto* handle : {out_.get(), in_.get()}) {
            if (handle != nullptr) {
                EXPECT_EQ(host_->Close(*handle), STATUS_SUCCESS);
            }
        }
        DriverTest::TearDown();
    }
    std::unique_ptr<kernel_model::FileHandle> out_;
    std::unique_ptr<kernel_model::FileHandle> in_;
};

TEST_F(ReadWriteTest, ReadsOfOneByteUpToTheLimitAreOneTransferEach) {
    uint64_t offset = 0;
    for (ULONG length : {1u, 524288u}) {
        std::vector<uint8_t> buffer(length);
        ULONG done = 0;
        ASSERT_EQ(host_->Transfer(*in_, true, buffer.data(), length, &done), STATUS_SUCCESS);
        EXPECT_EQ(done, length);
        for (ULONG i = 0; i < length; i += 4099)
            ASSERT_EQ(buffer[i], LoopbackFunction::PatternByte(offset + i));
        offset += length;
        const kernel_model::TransferRecord last = bus_->Transfers().back();
        EXPECT_EQ(last.endpoint, 0x82);
        EXPECT_EQ(last.length, length);
        EXPECT_EQ(last.flags,
                  static_cast<ULONG>(USBD_SHORT_TRANSFER_OK | USBD_TRANSFER_DIRECTION_IN));
    }
    EXPECT_EQ(bus_->Transfers().size(), 2u);
}

TEST_F(ReadWriteTest, WritesCarryTheBufferToTheDevice) {
    for (ULONG length : {1u, 524288u}) {
        std::vector<uint8_t> data(length);
        for (ULONG i = 0; i < length; i++) data[i] = static_cast<uint8_t>(i * 13 + length);
        ULONG done = 0;
        ASSERT_EQ(host_->Transfer(*out_, false, data.data(), length, &done), STATUS_SUCCESS);
        EXPECT_EQ(done, length);
        std::vector<uint8_t> written = function_.Written();
        EXPECT_TRUE(std::equal(data.begin(), data.end(), written.end() - length));
        EXPECT_EQ(bus_->Transfers().back().flags, static_cast<ULONG>(USBD_SHORT_TRANSFER_OK));
    }
}

TEST_F(ReadWriteTest, OneByteAboveTheLimitIsRefusedWithoutATransfer) {
    std::vector<uint8_t> buffer(524289);
    ULONG done = 0;
    EXPECT_EQ(host_->Transfer(*in_, true, buffer.data(), 524289, &done), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(host_->Transfer(*out_, false, buffer.data(), 524289, &done),
              STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(bus_->Transfers().empty());
}

TEST_F(ReadWriteTest, ZeroLengthRequestsSucceedWithoutReachingTheDevice) {
    uint8_t byte = 0;
    ULONG done = 7;
    EXPECT_EQ(host_->Transfer(*out_, false, &byte, 0, &done), STATUS_SUCCESS);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(host_->Transfer(*out_, false, nullptr, 0, &done), STATUS_SUCCESS);
    EXPECT_EQ(host_->Transfer(*in_, true, nullptr, 0, &done), STATUS_SUCCESS);
    EXPECT_TRUE(bus_->Transfers().empty());
}

TEST_F(ReadWriteTest, ATransferErrorCompletesTheRequestWithItsStatus) {
    function_.SetNextResult(UsbTransferResult::kStall);
    std::vector<uint8_t> buffer(13);
    ULONG done = 0;
    EXPECT_EQ(host_->Transfer(*in_, true, buffer.data(), 13, &done), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(done, 0u);
    // Not failed at once: no reset from the driver.
    EXPECT_EQ(bus_->ResetPipesOf(0x82), 0u);
    function_.SetNextResult(UsbTransferResult::kNoDevice);
    EXPECT_EQ(host_->Transfer(*in_, true, buffer.data(), 13, &done), STATUS_DEVICE_NOT_CONNECTED);
}

TEST_F(ReadWriteTest, AnImmediateFailureResetsThePipe) {
    bus_->FailNextTransferAtOnce(STATUS_INVALID_PARAMETER);
    std::vector<uint8_t> buffer(31);
    ULONG done = 0;
    EXPECT_EQ(host_->Transfer(*out_, false, buffer.data(), 31, &done), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(bus_->ResetPipesOf(0x01), 1u);
    EXPECT_EQ(bus_->PortStatusQueries(), 0u);
}

TEST_F(ReadWriteTest, AFailedPipeResetAfterAnImmediateFailureResetsTheDevice) {
    bus_->FailNextTransferAtOnce(STATUS_INVALID_PARAMETER);
    bus_->FailUrb(URB_FUNCTION_RESET_PIPE, STATUS_UNSUCCESSFUL);
    bus_->SetPort(true, false);
    std::vector<uint8_t> buffer(31);
    ULONG done = 0;
    EXPECT_EQ(host_->Transfer(*out_, false, buffer.data(), 31, &done), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(bus_->PortStatusQueries(), 1u);
    EXPECT_EQ(bus_->PortResets(), 1u);
}

TEST_F(ReadWriteTest, CancelledOrUnpluggedImmediateFailuresResetNothing) {
    std::vector<uint8_t> buffer(31);
    ULONG done = 0;
    for (NTSTATUS status : {STATUS_CANCELLED, STATUS_DEVICE_NOT_CONNECTED}) {
        bus_->FailNextTransferAtOnce(status);
        EXPECT_EQ(host_->Transfer(*out_, false, buffer.data(), 31, &done), status);
    }
    EXPECT_EQ(bus_->ResetPipesOf(0x01), 0u);
    EXPECT_EQ(bus_->PortStatusQueries(), 0u);
}

TEST_F(ReadWriteTest, APoolShortageFailsTheRequest) {
    kernel_model::FailAllocation(2);
    std::vector<uint8_t> buffer(64);
    ULONG done = 0;
    EXPECT_EQ(host_->Transfer(*in_, true, buffer.data(), 64, &done), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(bus_->Transfers().empty());
}

TEST_F(ReadWriteTest, AHangingTransferIsAbortedAtSurpriseRemoval) {
    function_.SetNextResult(UsbTransferResult::kHang);
    std::vector<uint8_t> buffer(512);
    std::unique_ptr<kernel_model::PendingRequest> read =
        host_->StartTransfer(*in_, true, buffer.data(), 512);
    EXPECT_EQ(read->dispatch_status, STATUS_PENDING);
    EXPECT_FALSE(read->Completed());
    EXPECT_EQ(Extension()->IoCount, 2);
    EXPECT_EQ(host_->Pnp(IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
    EXPECT_TRUE(read->Completed());
    EXPECT_EQ(read->Status(), STATUS_CANCELLED);
    EXPECT_EQ(Extension()->IoCount, 1);
}

TEST_F(ReadWriteTest, RemoveWaitsForAndAbortsARunningTransfer) {
    function_.SetNextResult(UsbTransferResult::kHang);
    std::vector<uint8_t> buffer(512);
    std::unique_ptr<kernel_model::PendingRequest> read =
        host_->StartTransfer(*in_, true, buffer.data(), 512);
    EXPECT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(read->Status(), STATUS_CANCELLED);
    out_.reset();
    in_.reset();
}

// A remove that arrives between the read's check of the state and its reference must still
// wait for the read; finishing under it would free the device the read goes on to use.
TEST_F(ReadWriteTest, ARemoveRightAfterTheStateCheckWaitsForTheRequest) {
    std::atomic<bool> removed{false};
    std::thread remove;
    kernel_model::AfterNextSpinLockRelease(&Extension()->DeviceStateLock, [&] {
        remove = std::thread([&] {
            EXPECT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
            removed = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(removed.load());
    });
    std::vector<uint8_t> buffer(512);
    ULONG done = 0;
    host_->Transfer(*in_, true, buffer.data(), 512, &done);
    remove.join();
    EXPECT_TRUE(removed.load());
    out_.reset();
    in_.reset();
}

}  // namespace
