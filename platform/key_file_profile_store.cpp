#include <glib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/profile_store.h"
#include "platform/user_folders.h"

namespace platform {

namespace {

// Identifies one version of the file on disk; a change of any field means it was rewritten.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    bool operator==(const FileStamp& o) const {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modified = st.st_mtim;
    return stamp;
}

constexpr size_t kMaxSalvagedBytes = 256 * 1024;

class KeyFileProfileStore final : public ProfileStore {
  public:
    explicit KeyFileProfileStore(std::string path) : path_(std::move(path)) {
        key_file_ = g_key_file_new();
        Reload();
    }
    ~KeyFileProfileStore() override { g_key_file_free(key_file_); }

    int GetInt(const std::string& section, const std::string& name, int fallback) override {
        ReloadIfChanged();
        GError* error = nullptr;
        gchar* text = g_key_file_get_value(key_file_, section.c_str(), name.c_str(), &error);
        if (text == nullptr) {
            g_clear_error(&error);
            return fallback;
        }
        // Registry numbers are 32-bit; a text that is no number reads as the default.
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(text, &end, 0);
        const bool ok =
            end != text && *end == '\0' && errno == 0 && value >= INT32_MIN && value <= UINT32_MAX;
        g_free(text);
        return ok ? static_cast<int>(static_cast<int64_t>(value)) : fallback;
    }

    std::string GetString(const std::string& section, const std::string& name,
                          const std::string& fallback) override {
        ReloadIfChanged();
        GError* error = nullptr;
        gchar* text = g_key_file_get_string(key_file_, section.c_str(), name.c_str(), &error);
        if (text == nullptr) {
            g_clear_error(&error);
            return fallback;
        }
        std::string value = text;
        g_free(text);
        return value;
    }

    void WriteInt(const std::string& section, const std::string& name, int value) override {
        ReloadIfChanged();
        g_key_file_set_integer(key_file_, section.c_str(), name.c_str(), value);
        Save();
    }

    void WriteString(const std::string& section, const std::string& name,
                     const std::string& value) override {
        ReloadIfChanged();
        g_key_file_set_string(key_file_, section.c_str(), name.c_str(), value.c_str());
        Save();
    }

  private:
    void ReloadIfChanged() {
        if (!(StampOf(path_) == stamp_)) Reload();
    }

    void Reload() {
        g_key_file_free(key_file_);
        key_file_ = g_key_file_new();
        stamp_ = StampOf(path_);
        GError* error = nullptr;
        if (g_key_file_load_from_file(key_file_, path_.c_str(), G_KEY_FILE_KEEP_COMMENTS, &error))
            return;
        const bool missing = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
        g_clear_error(&error);
        if (!missing) Salvage();
    }

    // A file damaged by hand or by a crash: the original is kept beside it as
    // "settings.ini.damaged", and every line that still reads as a section, a value or a
    // comment is taken, so that the next save does not drop the settings after the damage.
    void Salvage() {
        gchar* text = nullptr;
        gsize length = 0;
        if (!g_file_get_contents(path_.c_str(), &text, &length, nullptr)) return;
        const std::string original(text, length);
        g_free(text);
        g_file_set_contents((path_ + ".damaged").c_str(), original.data(),
                            static_cast<gssize>(original.size()), nullptr);
        // Each line is tried on its own; a settings file is a few kilobytes, one that is not
        // is no settings file.
        if (original.size() > kMaxSalvagedBytes) return;
        std::string kept;
        size_t start = 0;
        while (start < original.size()) {
            size_t end = original.find('\n', start);
            if (end == std::string::npos) end = original.size();
            const std::string line = original.substr(start, end - start);
            start = end + 1;
            const bool section = !line.empty() && line.front() == '[' && line.back() == ']';
            const bool value = line.find('=') != std::string::npos && line.front() != '[';
            const bool comment = line.empty() || line.front() == '#';
            if (!section && !value && !comment) continue;
            std::string candidate = kept + line + "\n";
            // A line GKeyFile still refuses (a stray byte in a key) is left out as well.
            GKeyFile* trial = g_key_file_new();
            if (g_key_file_load_from_data(trial, candidate.data(), candidate.size(),
                                          G_KEY_FILE_KEEP_COMMENTS, nullptr))
                kept = std::move(candidate);
            g_key_file_free(trial);
        }
        g_key_file_load_from_data(key_file_, kept.data(), kept.size(), G_KEY_FILE_KEEP_COMMENTS,
                                  nullptr);
    }

    void Save() {
        gchar* folder = g_path_get_dirname(path_.c_str());
        g_mkdir_with_parents(folder, 0700);
        g_free(folder);
        GError* error = nullptr;
        // g_key_file_save_to_file writes a temporary file and renames it over the old one.
        if (!g_key_file_save_to_file(key_file_, path_.c_str(), &error)) g_clear_error(&error);
        stamp_ = StampOf(path_);
    }

    std::string path_;
    GKeyFile* key_file_ = nullptr;
    FileStamp stamp_;
};

}  // namespace

std::unique_ptr<ProfileStore> MakeKeyFileProfileStore(const std::string& path) {
    return std::make_unique<KeyFileProfileStore>(path);
}

std::string DefaultProfilePath() {
    return ConfigFolder() + "/settings.ini";
}

}  // namespace platform
