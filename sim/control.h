#pragma once
// The control lines: the FIFO a test writes them into, and the words of a line.
#include "ecu.h"
#include "eventlog.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ecusim {

std::vector<std::string_view> splitWords(std::string_view line);
std::string_view trim(std::string_view s);

// A control line cut into words, with the checks the commands share.
struct ControlLine {
    std::string_view text; // the whole line, trimmed
    std::vector<std::string_view> words;

    // Sets target from "NAME N" with N in lo..hi; the message when not.
    std::string number(int lo, int hi, int &target) const;
    // Sets target from "NAME on" or "NAME off"; the message when neither.
    std::string onOff(bool &target) const;
};

// Writes the image to a new file beside path and renames it over path.
bool writeAtomically(const std::string &path, const Image &image, std::string &error);

// The FIFO the control lines come through. It holds a writer of its own, so the
// FIFO never reports end of file between two writers: closing and reopening
// the read side at that moment could lose a line that a writer has just put in.
class ControlFifo {
public:
    explicit ControlFifo(const EventLog &log) : log_(log) {}
    ~ControlFifo() { close(); }
    ControlFifo(const ControlFifo &) = delete;
    ControlFifo &operator=(const ControlFifo &) = delete;

    // Creates the FIFO at path (or takes an existing one); false after a
    // message on stderr.
    bool open(const std::string &path);
    // Closes it and removes a FIFO that open created.
    void close();
    int fd() const { return fd_; }
    // Reads what is there and hands each complete line to handle, which returns
    // false to stop reading (the simulator ends).
    void read(const std::function<bool(std::string_view)> &handle);

private:
    const EventLog &log_;
    std::string path_;
    int fd_ = -1;
    int keep_ = -1;
    bool created_ = false;
    std::string buffer_;
};

} // namespace ecusim
