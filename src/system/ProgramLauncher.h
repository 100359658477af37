#pragma once

#include <QString>

// Starts a program without waiting for it. The browser starts the sibling
// `terminate` through this, so tests can put a recording launcher in its place.
class ProgramLauncher {
public:
    virtual ~ProgramLauncher();
    // Starts `program` (a path) with no arguments. On failure returns false
    // and, when `error` is given, a sentence for the user.
    virtual bool start(const QString &program, QString *error) = 0;
};

// Starts the program detached: it outlives us and leaves no zombie behind.
class DetachedLauncher : public ProgramLauncher {
public:
    bool start(const QString &program, QString *error) override;
};
