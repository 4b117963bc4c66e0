#include "mount/mount_names.h"

#include <set>

#include "transfer/box_function_mgr.h"
#include "transfer/name_helpers.h"

namespace {

// Variants tried for a name another entry of the folder shows already, as a copy tries them.
constexpr int kMaxUniqueVariants = 999;

// The copy's own rule for the n-th variant of a target name.
class CopyNameVariants : public CBoxFunctionMgr {
  public:
    using CBoxFunctionMgr::UniqueTargetPath;
};

std::string NaturalPcName(const MountEntry& entry) {
    CDirEntry record;
    record.name = entry.receiver_name;
    record.size = entry.size;
    record.isFile = entry.directory ? 0 : 1;
    if (!entry.directory) return CBoxFunctionMgr::PcTargetName(record, false);
    std::string name = entry.receiver_name;
    MakePcPathComponent(name);
    return name;
}

}  // namespace

void AssignPcNames(std::vector<MountEntry>* entries) {
    static const CopyNameVariants variants;
    std::set<std::string> taken;
    for (const bool directories : {true, false})
        for (MountEntry& entry : *entries) {
            if (entry.directory != directories) continue;
            const std::string natural = NaturalPcName(entry);
            std::string name = natural;
            for (int n = 2; taken.count(name) != 0 && n <= kMaxUniqueVariants; ++n)
                name = variants.UniqueTargetPath(natural, n);
            taken.insert(name);
            entry.pc_name = name;
        }
}

std::string NewNameProblem(const std::string& name, bool directory) {
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return "only printable ASCII names are stored unchanged";
    std::string stored = name;
    if (!MakeBoxFileName(stored)) return "the receiver would store it as '" + stored + "'";
    if (directory && MakeAsciiName(name) != name)
        return "the receiver would store the folder as '" + MakeAsciiName(name) + "'";
    if (name.find_first_not_of(". ") == std::string::npos) return "no name";
    MountEntry shown;
    shown.receiver_name = name;
    shown.directory = directory;
    // A file without a dot is listed with one, as the receiver keeps an empty extension.
    if (!directory && name.find('.') == std::string::npos)
        return "a file name needs an extension (a trailing dot for none)";
    if (NaturalPcName(shown) != name) return "it would show as '" + NaturalPcName(shown) + "'";
    return "";
}
