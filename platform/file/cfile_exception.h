// The exception the framework's file stream raises: a cause and the operating system's error.
#pragma once

#include <exception>
#include <string>

class CFileException : public std::exception {
  public:
    enum Cause {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14,
    };

    CFileException() = default;
    CFileException(int cause, long os_error, std::string file_name = {});

    // The cause that fits an errno value.
    static int CauseFromErrno(int error_number);

    const char* what() const noexcept override;

    int m_cause = none;
    long m_lOsError = 0;
    std::string m_strFileName;

  private:
    std::string message_;
};
