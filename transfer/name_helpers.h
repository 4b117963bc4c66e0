// Names and paths made fit for the other side of a transfer.
#pragma once

#include <string>

// Replaces the characters a PC file system refuses, one for one: / " \ * ? : < > | become
// - ' blank , , ; ( ) ¦. True when nothing had to change.
bool MakePcFileName(std::string& name);

// Makes a name the receiver's file system takes: at most 32 characters before an extension
// of up to 3, no " \ * ? : < > |, and only the last dot kept. True when nothing had to change.
bool MakeBoxFileName(std::string& name);

// A name or path reduced to plain ASCII for the receiver's disk: umlauts spelt out (ä → ae),
// accented letters without their accents, dots and tildes as blanks, every other character
// outside ASCII a blank, and no white space at either end.
std::string MakeAsciiName(const std::string& text);

// The file-system name of the PC volume that holds `path` ("ext4", "vfat", "ntfs3", ...);
// empty when unknown.
std::string GetFileSystemName(const std::string& path);

// Tests stand in for the operating system's answer; null restores it.
using FileSystemNameProvider = std::string (*)(const std::string& path);
void SetFileSystemNameProvider(FileSystemNameProvider provider);

// Whether a copy to the volume holding `path` must be split into parts below 4 GiB: false
// only for the file systems known to hold larger files (ext4, btrfs, xfs, NTFS, exFAT, ...).
bool MustSplitLargeFiles(const std::string& path);

// One step of a PC path made from a receiver name: MakePcFileName, control bytes as "_", and
// a name of only dots or blanks (".", "..", "") as underscores, so that it stays inside its
// folder. True when nothing had to change.
bool MakePcPathComponent(std::string& name);
// The PC folder for a receiver folder `relative` ("\A\B") below `target_folder`: each step
// cleaned with MakePcPathComponent; ends with "/".
std::string PcTargetFolder(const std::string& target_folder, const std::string& relative);
// Part `part` of a split PC target whose first part is `first_part` (".../Name~0.TP0").
std::string SplitPartPath(const std::string& first_part, int part);
// The part after `part_path` (".../Name~3.TP0" gives ".../Name~4.TP0").
std::string NextPartPath(const std::string& part_path);

// PC paths: every "//" replaced by "/".
std::string CollapseSlashes(std::string path);
// Receiver paths: every "\\" replaced by "\", once.
std::string CollapseBackslashes(std::string path);
// The folder of an entry relative to the source base: its first `source_base_length`
// characters removed; a lone separator counts as empty.
std::string RelativeFolder(const std::string& entry_folder, size_t source_base_length);
// target folder + separator + relative folder + separator, the relative folder's separators
// ("\" of the receiver, "/" of the PC) turned into `separator`, and doubled separators
// collapsed twice over: "D:\" and "\" give "D:\", "D:" and "\Movies" give "D:\Movies\".
std::string JoinTargetFolder(const std::string& target_folder, std::string relative,
                             char separator);
