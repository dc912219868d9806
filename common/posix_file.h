// Small file-descriptor helpers both programs use for their settings files and the tools for
// the files they are given.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kv {

// Writes all of text to fd, going on after short writes and interrupted calls; false on the
// first real failure (errno then says why).
bool WriteAll(int fd, std::string_view text);

// Writes text over a file open at its start, cuts the file to that length and flushes it to
// disk. The file is never shorter than the new text until all of it is there. False, with
// errno, on the first failure.
bool OverwriteAll(int fd, std::string_view text);

// The folder a file's path names ("." for a bare name, "/" for one at the root).
std::string FolderOfFile(const std::string& path);

struct FileText {
    enum class Outcome {
        Whole,       // text is the whole file
        Missing,     // nothing at the path (or a dangling link)
        NotRegular,  // a folder, a FIFO, a device: never read
        TooLarge,    // longer than the limit; text holds the first part
        Failed,      // the open or a read failed (a failing card: EIO); error says why
    };
    Outcome outcome = Outcome::Missing;
    std::string text;
    std::string error;  // for everything but Whole: "<path>: <why>"

    bool Whole() const { return outcome == Outcome::Whole; }
};

// Reads a regular file of at most maxBytes. It is opened without blocking, so that a FIFO or
// a device at the path never holds the caller up, and only a regular file is read.
FileText ReadRegularFile(const std::string& path, size_t maxBytes);

// text for a message that quotes a file's bytes: control and non-ASCII bytes as \xNN, so that
// what a file holds can never drive the terminal that shows the message.
std::string Printable(std::string_view text);

}  // namespace kv
