// What the program's logic asks of the window system beyond the platform
// seam: the wait cursor. The main window supplies the real one; tests and
// start-up before the window exists leave it out.
#pragma once

class UserInterface {
public:
    virtual ~UserInterface() = default;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
};

// Shows the wait cursor for the life of the guard, on every path out of a
// scope, exceptions included. A null interface makes it a no-op.
class WaitCursor {
public:
    explicit WaitCursor(UserInterface* ui) : ui_(ui) {
        if (ui_) ui_->BeginWaitCursor();
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    ~WaitCursor() {
        if (ui_) ui_->EndWaitCursor();
    }

private:
    UserInterface* ui_;
};
