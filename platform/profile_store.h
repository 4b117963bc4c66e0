// The per-user profile store: integers and texts in named sections, as the application's
// profile functions keep them in the registry on Windows.
#pragma once

#include <memory>
#include <string>

namespace platform {

class ProfileStore {
  public:
    virtual ~ProfileStore() = default;
    // A missing or unreadable value reads as `fallback`.
    virtual int GetInt(const std::string& section, const std::string& name, int fallback) = 0;
    virtual std::string GetString(const std::string& section, const std::string& name,
                                  const std::string& fallback) = 0;
    // A failure to write is not reported, as the registry's is not.
    virtual void WriteInt(const std::string& section, const std::string& name, int value) = 0;
    virtual void WriteString(const std::string& section, const std::string& name,
                             const std::string& value) = 0;
};

// Values in memory only, for tests.
std::unique_ptr<ProfileStore> MakeMemoryProfileStore();

// An INI file; every write replaces the file atomically, and a file changed on disk (by hand,
// or by another instance) is read again before the next read.
std::unique_ptr<ProfileStore> MakeKeyFileProfileStore(const std::string& path);

// The path of the user's settings file: ConfigFolder() + "/settings.ini".
std::string DefaultProfilePath();

// The process-wide store. Until one is set it is a memory store.
ProfileStore& Profile();
void SetProfile(std::unique_ptr<ProfileStore> store);

}  // namespace platform
