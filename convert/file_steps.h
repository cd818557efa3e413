// The file work of the output step, done so that nothing is written through a link and no
// file is left half written.
#pragma once

#include <QString>

// True when both paths name one existing file (through links, other letter cases or hard links).
bool sameFile(const QString& a, const QString& b);

// Copies `from` over `to` through a new file beside `to` that takes its name only when complete:
// a link at `to` is replaced, not followed, and a failed copy leaves an earlier `to` whole.
bool replaceWithCopy(const QString& from, const QString& to);

// Puts `from` in the place of `to`, as replaceWithCopy does, then removes `from`: a rename when
// both are on one file system, a copy otherwise. False when `to` could not be replaced.
bool moveIntoPlace(const QString& from, const QString& to);
