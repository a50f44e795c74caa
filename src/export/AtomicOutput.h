#pragma once

#include <QString>

#include <functional>

namespace trimora {

// A file written under a temporary name in its destination folder and given
// its real name only once it is known to be good, so that nothing half-written
// or rejected ever stands under a name the user sees, and two writers aiming
// at one name never take it from each other.
//
// The temporary is ".trimora-part-<random>.<extension>" (the extension kept,
// so that a tool picks the same format from it), created exclusively and
// locked (flock) for as long as this object lives. One that nobody holds was
// left by a writer that died; the next reservation in that folder removes it.
// Blocking file-system calls throughout: use it off the main thread.
class AtomicOutput
{
public:
    // Removes dead writers' temporaries beside finalPath and reserves one.
    explicit AtomicOutput(const QString &finalPath);
    ~AtomicOutput(); // discards what was not published
    AtomicOutput(const AtomicOutput &) = delete;
    AtomicOutput &operator=(const AtomicOutput &) = delete;

    // Why no temporary could be made ("read-only file system"); empty when
    // one was.
    const QString &error() const { return m_error; }
    const QString &temporaryPath() const { return m_temporary; }

    // Gives the temporary the final name, or, should a file have taken that
    // name meanwhile, the next free one counted on from it; never replaces a
    // file. Returns the name given, or an empty text with error() set.
    QString publish();
    void discard();

private:
    QString m_final;
    QString m_temporary;
    QString m_error;
    int m_lock = -1;
};

// The result of writing a file through an AtomicOutput: the name it was given,
// or why there is none.
struct WrittenFile
{
    QString path;
    QString failure;
};

// Reserves a temporary beside finalPath, lets write fill it (it returns why
// the file is no good, or an empty text), and publishes it when good; a
// failed write or publication leaves neither the temporary nor a file under
// any name.
WrittenFile writeAtomically(const QString &finalPath,
                            const std::function<QString(const QString &temporaryPath)> &write);

} // namespace trimora
