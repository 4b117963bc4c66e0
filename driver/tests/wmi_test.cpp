// WMI: registration information, the data block and its size rules.
#include <gmock/gmock.h>

#include <cstring>

#include "driver/kernel_model/wmi_requests.h"
#include "driver/tests/driver_fixture.h"

namespace {

class WmiTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        PlugIn();
        OvDebugLevel = 1;
    }
    NTSTATUS Query(void* buffer, ULONG size, ULONG_PTR* information) {
        return host_->Wmi(IRP_MN_QUERY_SINGLE_INSTANCE, &GUID_OVPVR_WMI_STD_DATA, buffer, size,
                          information);
    }
    NTSTATUS SetItem(ULONG item, const void* value, ULONG size) {
        std::vector<uint8_t> buffer(sizeof(ULONG) + size);
        std::memcpy(buffer.data(), &item, sizeof item);
        std::memcpy(buffer.data() + sizeof item, value, size);
        ULONG_PTR information = 0;
        return host_->Wmi(IRP_MN_CHANGE_SINGLE_ITEM, &GUID_OVPVR_WMI_STD_DATA, buffer.data(),
                          static_cast<ULONG>(buffer.size()), &information);
    }
    ULONG DebugLevel() {
        alignas(4) uint8_t block[24];
        ULONG_PTR information = 0;
        EXPECT_EQ(Query(block, sizeof block, &information), STATUS_SUCCESS);
        ULONG level = 0;
        std::memcpy(&level, block, sizeof level);
        return level;
    }
};

TEST_F(WmiTest, RegistrationNamesThePdoThePathAndTheMofResource) {
    kernel_model::WmiRegistration registration;
    ULONG_PTR information = 0;
    EXPECT_EQ(host_->Wmi(IRP_MN_REGINFO, nullptr, &registration, sizeof registration, &information),
              STATUS_SUCCESS);
    EXPECT_EQ(registration.flags, static_cast<ULONG>(WMIREG_FLAG_INSTANCE_PDO));
    EXPECT_EQ(registration.pdo, bus_->Pdo());
    EXPECT_EQ(registration.registry_path,
              u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\OvPvrUSB");
    EXPECT_EQ(registration.mof_resource_name, u"MofResourceName");
    EXPECT_EQ(registration.guid_count, 1u);
}

TEST_F(WmiTest, TheBlockHoldsTheDebugLevelAndTheModelName) {
    alignas(4) uint8_t block[32] = {};
    ULONG_PTR information = 0;
    ASSERT_EQ(Query(block, sizeof block, &information), STATUS_SUCCESS);
    EXPECT_EQ(information, 24u);
    ULONG level = 0;
    USHORT length = 0;
    std::memcpy(&level, block, 4);
    std::memcpy(&length, block + 4, 2);
    EXPECT_EQ(level, 1u);
    EXPECT_EQ(length, 18u);
    std::u16string name(9, u'\0');
    std::memcpy(name.data(), block + 6, 18);
    EXPECT_EQ(name, u"Qelvarino");
    EXPECT_EQ(block[24], 0);
}

TEST_F(WmiTest, AQueryWithATenByteBufferIsTooSmall) {
    alignas(4) uint8_t block[10] = {};
    ULONG_PTR information = 0;
    EXPECT_EQ(Query(block, sizeof block, &information), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(information, 24u);
    EXPECT_EQ(block[0], 0);
}

TEST_F(WmiTest, SettingTheBlockNeedsExactlyFourBytes) {
    const ULONG level = 3;
    ULONG_PTR information = 0;
    ULONG value = level;
    EXPECT_EQ(host_->Wmi(IRP_MN_CHANGE_SINGLE_INSTANCE, &GUID_OVPVR_WMI_STD_DATA, &value, 4,
                         &information),
              STATUS_SUCCESS);
    EXPECT_EQ(DebugLevel(), 3u);
    EXPECT_EQ(host_->Wmi(IRP_MN_CHANGE_SINGLE_INSTANCE, &GUID_OVPVR_WMI_STD_DATA, &value, 3,
                         &information),
              STATUS_INFO_LENGTH_MISMATCH);
    EXPECT_EQ(DebugLevel(), 3u);
}

TEST_F(WmiTest, SettingAnItemNeedsItemOneAndFourBytes) {
    const ULONG level = 2;
    EXPECT_EQ(SetItem(1, &level, 4), STATUS_SUCCESS);
    EXPECT_EQ(DebugLevel(), 2u);
    const ULONG other = 9;
    EXPECT_EQ(SetItem(2, &other, 4), STATUS_WMI_ITEMID_NOT_FOUND);
    EXPECT_EQ(SetItem(1, &other, 2), STATUS_INFO_LENGTH_MISMATCH);
    EXPECT_EQ(DebugLevel(), 2u);
}

TEST_F(WmiTest, AnotherGuidIsNotFoundAndAnotherProvidersRequestPassesDown) {
    const GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    alignas(4) uint8_t block[32];
    ULONG_PTR information = 0;
    EXPECT_EQ(host_->Wmi(IRP_MN_QUERY_SINGLE_INSTANCE, &other, block, sizeof block, &information),
              STATUS_WMI_GUID_NOT_FOUND);
    EXPECT_EQ(host_->Wmi(IRP_MN_QUERY_SINGLE_INSTANCE, &GUID_OVPVR_WMI_STD_DATA, block,
                         sizeof block, &information, 0x1234),
              STATUS_NOT_SUPPORTED);
}

TEST_F(WmiTest, TheDeviceIsRegisteredFromAddDeviceToRemove) {
    const PDEVICE_OBJECT fdo = host_->Fdo();
    EXPECT_TRUE(kernel_model::WmiRegistered(fdo));
    EXPECT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_FALSE(kernel_model::WmiRegistered(fdo));
}

}  // namespace
