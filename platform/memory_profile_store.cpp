#include <map>
#include <string>
#include <utility>

#include "platform/profile_store.h"

namespace platform {

namespace {
class MemoryProfileStore final : public ProfileStore {
  public:
    int GetInt(const std::string& section, const std::string& name, int fallback) override {
        auto it = ints_.find({section, name});
        return it == ints_.end() ? fallback : it->second;
    }
    std::string GetString(const std::string& section, const std::string& name,
                          const std::string& fallback) override {
        auto it = strings_.find({section, name});
        return it == strings_.end() ? fallback : it->second;
    }
    void WriteInt(const std::string& section, const std::string& name, int value) override {
        ints_[{section, name}] = value;
    }
    void WriteString(const std::string& section, const std::string& name,
                     const std::string& value) override {
        strings_[{section, name}] = value;
    }

  private:
    using Key = std::pair<std::string, std::string>;
    std::map<Key, int> ints_;
    std::map<Key, std::string> strings_;
};

std::unique_ptr<ProfileStore>& CurrentProfile() {
    static std::unique_ptr<ProfileStore> store = MakeMemoryProfileStore();
    return store;
}
}  // namespace

std::unique_ptr<ProfileStore> MakeMemoryProfileStore() {
    return std::make_unique<MemoryProfileStore>();
}

ProfileStore& Profile() {
    return *CurrentProfile();
}

void SetProfile(std::unique_ptr<ProfileStore> store) {
    CurrentProfile() = std::move(store);
}

}  // namespace platform
