// Copies of one PC entry to the receiver and of one receiver entry to the PC, through the two
// managers as a command starts them: gathered, past the overwrite check, copied.
#pragma once

#include <string>

#include "tests/transfer/receiver_fixture.h"
#include "transfer/box_function_mgr.h"
#include "transfer/gathering.h"
#include "transfer/overwrite_check.h"
#include "transfer/win_function_mgr.h"

inline OverwriteAnswer YesToAllAnswers(const std::string&, void*) {
    return OverwriteAnswer::kYesToAll;
}

class ReceiverCopyFixture : public ReceiverFixture {
  protected:
    void SetUp() override {
        ReceiverFixture::SetUp();
        MakeImage();
        Connect();
    }

    // The PC file or folder at `pc_path` into `receiver_folder`.
    bool Put(const std::string& pc_path, const std::string& receiver_folder,
             OverwriteQuestion ask = YesToAllAnswers) {
        const std::string parent = pc_path.substr(0, pc_path.rfind('/'));
        CDirEntry record;
        EXPECT_TRUE(MakePcRecord(parent, pc_path.substr(pc_path.rfind('/') + 1), &record));
        CDirList one;
        one.Add(record);
        CDirList files = GatherSelection(one, false);
        CheckOverwriteFiles(win_, &files, parent, receiver_folder, ask, nullptr);
        return files.IsEmpty() || win_.CopyFiles(&files, parent, receiver_folder);
    }

    // The entry `name` of `receiver_folder` into `pc_folder`.
    bool Get(const std::string& receiver_folder, const std::string& name,
             const std::string& pc_folder, OverwriteQuestion ask = YesToAllAnswers) {
        EXPECT_TRUE(box_.ReadDir(receiver_folder));
        CDirList one;
        for (const CDirEntry& e : box_.listing)
            if (e.name == name) one.Add(e);
        EXPECT_EQ(one.GetSize(), 1u) << name;
        CDirList files = GatherSelection(one, true);
        CheckOverwriteFiles(box_, &files, receiver_folder, pc_folder, ask, nullptr);
        return files.IsEmpty() || box_.CopyFiles(&files, receiver_folder, pc_folder);
    }

    CWinFunctionMgr win_;
    CBoxFunctionMgr box_;
};
