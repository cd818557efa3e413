// Where the program writes: the output folder, its failure log and the intermediate bitmap, all
// in the system's temporary folder (Qt's temporary path, which honours TMPDIR). Paths come back
// with the platform's separators, as the window's variables hold them.
//
// The output folder is shared ground: another user may have made it, or left a symbolic link
// under its name. So the program writes into it only when it is a real folder of its own, and
// never writes the log through a link.
#pragma once

#include <QString>

QString outputFolder();      // <temp>/Vamko
QString logPath();           // <temp>/Vamko/Log.txt
QString intermediatePath();  // <temp>/Dib.bmp

// The log's first line.
inline const QString kLogHeader = QStringLiteral("Liste des fichiers non convertis par suite d'anomalies");

// Makes the output folder. Fails when anything already stands under its name (a folder, a file,
// a link) or it cannot be made.
bool createOutputFolder();

// Whether the output folder can be written into: a real folder (not a link) of the current user.
bool outputFolderIsUsable();

// Creates the log at `path` afresh (replacing an earlier file, never following a link) holding
// only the header line.
bool createLog(const QString& path);

// Appends one line to the log at `path`. A line break inside `line` is written as the visible
// escape \n or \r, so one call always adds exactly one line. Lines end in CR LF and are encoded
// in the system's 8-bit encoding. Fails on an empty path, a link or a write error.
bool appendLogLine(const QString& path, const QString& line);

// Deletes the log at `path`; an empty path or a missing file is not an error worth reporting.
void deleteLog(const QString& path);
