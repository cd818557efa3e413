// Test helpers for the windows: a scratch temporary folder that the program takes for the
// system's (TMPDIR points at it while the object lives), reading and writing files whole,
// finding the About and Help windows, where a centred window stands, and the start-up's texts.
// The run's tests add theirs in run_testkit.h.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

class ScratchTemp {
public:
    ScratchTemp() : saved_(qgetenv("TMPDIR")), hadSaved_(qEnvironmentVariableIsSet("TMPDIR"))
    {
        QVERIFY2(dir_.isValid(), "no scratch folder");
        qputenv("TMPDIR", QFile::encodeName(dir_.path()));
    }
    ~ScratchTemp()
    {
        if (hadSaved_)
            qputenv("TMPDIR", saved_);
        else
            qunsetenv("TMPDIR");
    }
    ScratchTemp(const ScratchTemp&) = delete;
    ScratchTemp& operator=(const ScratchTemp&) = delete;

    QString path(const QString& relative = QString()) const
    {
        return QDir::toNativeSeparators(relative.isEmpty() ? dir_.path() : dir_.filePath(relative));
    }

private:
    QTemporaryDir dir_;
    QByteArray saved_;
    bool hadSaved_;
};

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// writeAll that fails the calling test when the file cannot be written.
inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QVERIFY2(writeAll(path, bytes), qPrintable(path));
}

// The visible top-level window of type W, if any.
template <class W>
W* openWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<W*>(widget); window && window->isVisible())
            return window;
    return nullptr;
}

// The number of top-level windows of type W that exist, shown or not.
template <class W>
int windowCount()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += qobject_cast<W*>(widget) != nullptr;
    return count;
}

// Where the top-left corner of a window's frame stands when the window is centred on its screen
// by its outer size.
inline QPoint centredFrameCorner(const QWidget* window)
{
    const QSize screen = window->screen()->geometry().size();
    const QSize outer = window->frameGeometry().size();
    return {qRound((screen.width() - outer.width()) / 2.0), qRound((screen.height() - outer.height()) / 2.0)};
}

inline const QByteArray kLogHeaderBytes = "Liste des fichiers non convertis par suite d'anomalies\r\n";
inline const QString kWarning = QStringLiteral(
    " Impossible de créer le répertoire d'écriture. S'il existe déjà, changez son nom pour préserver son contenu.");
