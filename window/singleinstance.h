#ifndef ZELMORA_SINGLEINSTANCE_H
#define ZELMORA_SINGLEINSTANCE_H

#include <QObject>
#include <QString>

class QWidget;

// One copy of the program owns the meter in a user's session. Two copies
// would both poll it, and each would read the other's replies, so a second
// start only brings the first copy's window forward and ends.
//
// The claim is a system object that ends with the process (an abstract
// socket on Linux, a named mapping in the session's namespace on Windows):
// nothing is left behind, however the first copy ends.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // Claims `key` at once; needs the application object (the key names the
    // display the program runs on).
    explicit SingleInstance(const QString &key, QObject *parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // The key for `name` in this user's session on this display.
    static QString sessionKey(const QString &name);
    // Whether some copy holds `key`, without claiming it.
    static bool isClaimed(const QString &key);

    bool isFirst() const { return first; }
    // For the first copy: from now on, a later start brings `window` forward.
    void serve(QWidget *window);
    // For a later copy: asks the first to come forward. Returns at once.
    void askFirstToShow();

    // Shows `window` in front of the others, restored if it was minimized.
    static void bringToFront(QWidget *window);

signals:
    void showRequested();

private:
    class Platform;
    Platform *platform = nullptr;
    bool first = false;
};

#endif
