#include "transfer/receiver_errors.h"

#include "pvrdisk/pcfm.h"

namespace {

const char* Reason(int code) {
    switch (code) {
        case EDEVICE:
            return "the receiver does not answer or its disk is not mounted";
        case EOUTOFMEM:
            return "out of memory";
        case ETOOMANYOPEN:
            return "too many files are open on the receiver";
        case ENOTFOUND:
            return "no such file or folder";
        case ENOPATH:
            return "a folder of the path does not exist";
        case ENOENTRY:
            return "the file ends before its size (its chain on the receiver is damaged)";
        case EBADNAME:
            return "the name is not valid on the receiver";
        case ENOTADIR:
            return "a part of the path is a file, not a folder";
        case EWRONGKIND:
            return "a folder where a file was expected, or the other way round";
        case EREADONLY:
            return "the file is read-only";
        case EDISKFULL:
            return "the receiver's disk is full";
        case EEXISTS:
            return "an entry of that name exists already";
        case ECROSSDEVICE:
            return "source and target are on different drives";
        case EDIRNOTEMPTY:
            return "the folder is not empty";
        case EBADBPB:
            return "the disk is not in the receiver's format";
        case EDIRFULL:
            return "the folder is full (512 entries)";
        case ETOOLARGE:
            return "the file would reach the largest size the receiver holds";
        case ESHORTIO:
            return "the receiver delivered less than asked for";
        case EBADCHAIN:
            return "the file's clusters on the receiver are damaged (its chain loops, runs into "
                   "a free cluster or ends early)";
        default:
            return "the receiver's file system failed";
    }
}

}  // namespace

std::string ReceiverErrorText(int code) {
    return std::string(Reason(code)) + " (error " + std::to_string(code) + ")";
}
