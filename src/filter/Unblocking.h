#pragma once

#include <QString>
#include <functional>

class Dialogs;
class NavigationFilter;
struct ProgramState;

// Every way to unblock an address comes here. Where a password is set, the
// parent's password comes first and the question's default is No, so a
// child alone at the keyboard cannot unblock anything; without one the
// question alone is asked. On Yes the site joins the allow list, the address
// loads and the whole list is saved to the unblocked file.
struct Unblocking {
    ProgramState &state;
    const NavigationFilter &filter;
    Dialogs &dialogs;
    std::function<bool()> parentAllows; // the password gate; true when passed
    std::function<void(const QString &address)> load; // may be empty: nothing loads

    // `address` is a copy: the blocked address may change while the question is open.
    void unblock(QString address) const;
    // What a Yes does, with no gate or question: the parents' "Allow" of a
    // blocked site comes here, after their own gate. False when the address's
    // site can be no entry (the parent is told).
    bool allow(const QString &address) const;

private:
    bool acceptable(const QString &address) const;
};
