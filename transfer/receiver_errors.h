// The receiver file system's error codes in words, for messages people read.
#pragma once

#include <string>

// "the receiver does not answer (error 1)", "no such file or folder (error 5)", ...: the
// reason first, the code after it for support.
std::string ReceiverErrorText(int code);
