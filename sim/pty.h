#pragma once
// The simulator's end of the line: the master side of a pseudo-terminal, and the
// symbolic link that gives the program a fixed name for its slave side.
#include <string>

namespace ecusim {

class PtyMaster {
public:
    PtyMaster() = default;
    ~PtyMaster() { close(); }
    PtyMaster(const PtyMaster &) = delete;
    PtyMaster &operator=(const PtyMaster &) = delete;

    // A new pseudo-terminal whose slave side opens raw 38400 8N1; the master is
    // non-blocking. False with the reason in error.
    bool open(std::string &error);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string &slavePath() const { return slavePath_; }
    // With no slave open the master reports a hang-up; poll's events of a look
    // that does not wait (POLLHUP, POLLIN).
    short look() const;

private:
    int fd_ = -1;
    std::string slavePath_;
};

// Points link at target, replacing an older symbolic link atomically; an
// existing file that is not a symbolic link is never replaced.
bool placeLink(const std::string &link, const std::string &target, std::string &error);
// Removes link only while it still points at target (another simulator may
// have taken the name over).
void removeLink(const std::string &link, const std::string &target);

} // namespace ecusim
