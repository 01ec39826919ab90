// The wait cursor for as long as a file operation runs, restored on every
// way out of it.
#pragma once

namespace Quil {

class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    // Without a GUI application (command-line tools, fuzzing) there is no
    // cursor to set.
    bool m_set = false;
};

} // namespace Quil
