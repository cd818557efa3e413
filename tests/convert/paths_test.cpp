// Where the program writes, and how the failure log is written.
#include <QFileInfo>

#include "convert/paths.h"
#include "tests/support/window_testkit.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

class PathsTest : public QObject {
    Q_OBJECT

private slots:
    void pathsFollowTheTemporaryFolder();
    void outputFolderIsMadeOnlyWhenNothingIsThere();
    void outputFolderOfAnotherUserIsNotUsable();
    void createdLogHoldsTheHeaderOnly();
    void appendedLinesEndInCrLf();
    void lineBreaksInALineAreEscaped();
    void logIsNeverWrittenThroughALink();
    void deleteLogIgnoresWhatIsNotThere();
};

void PathsTest::pathsFollowTheTemporaryFolder()
{
    ScratchTemp temp;
    QCOMPARE(outputFolder(), temp.path("Vamko"));
    QCOMPARE(logPath(), temp.path("Vamko/Log.txt"));
    QCOMPARE(intermediatePath(), temp.path("Dib.bmp"));
}

void PathsTest::outputFolderIsMadeOnlyWhenNothingIsThere()
{
    ScratchTemp temp;
    QVERIFY(!outputFolderIsUsable());
    QVERIFY(createOutputFolder());
    QVERIFY(outputFolderIsUsable());
    QVERIFY(!createOutputFolder());  // it exists now

    QVERIFY(QDir(temp.path("Vamko")).removeRecursively());
    QVERIFY(writeAll(temp.path("Vamko"), "a file"));
    QVERIFY(!createOutputFolder());
    QVERIFY(!outputFolderIsUsable());

    QVERIFY(QFile::remove(temp.path("Vamko")));
    QVERIFY(QDir().mkdir(temp.path("real")));
    QVERIFY(QFile::link(temp.path("real"), temp.path("Vamko")));
    QVERIFY(!createOutputFolder());
    QVERIFY(!outputFolderIsUsable());
}

void PathsTest::outputFolderOfAnotherUserIsNotUsable()
{
#ifdef Q_OS_UNIX
    if (::geteuid() != 0)
        QSKIP("only root can give a folder to another user");
    ScratchTemp temp;
    QVERIFY(createOutputFolder());
    QVERIFY(::chown(QFile::encodeName(outputFolder()).constData(), 65534, 65534) == 0);
    QVERIFY(!outputFolderIsUsable());
#else
    QSKIP("folder owners are checked on Unix");
#endif
}

void PathsTest::createdLogHoldsTheHeaderOnly()
{
    ScratchTemp temp;
    const QString log = temp.path("Log.txt");
    QVERIFY(writeAll(log, "an earlier log that was much longer than the header line alone, "
                          "so a missing truncation would show\r\n"));
    QVERIFY(createLog(log));
    QCOMPARE(readAll(log), kLogHeaderBytes);
    QVERIFY(!createLog(QString()));
    QVERIFY(!createLog(temp.path("no/such/folder/Log.txt")));
}

void PathsTest::appendedLinesEndInCrLf()
{
    ScratchTemp temp;
    const QString log = temp.path("Log.txt");
    QVERIFY(createLog(log));
    QVERIFY(appendLogLine(log, "/images/a.jpg"));
    QVERIFY(appendLogLine(log, "/images/été.jpg"));
    QVERIFY(appendLogLine(log, "/images/a.jpg"));  // duplicates are kept
    QCOMPARE(readAll(log), kLogHeaderBytes + "/images/a.jpg\r\n/images/\xc3\xa9t\xc3\xa9.jpg\r\n/images/a.jpg\r\n");
    QVERIFY(!appendLogLine(QString(), "/images/a.jpg"));
}

void PathsTest::lineBreaksInALineAreEscaped()
{
    ScratchTemp temp;
    const QString log = temp.path("Log.txt");
    QVERIFY(createLog(log));
    QVERIFY(appendLogLine(log, "/images/two\nlines.jpg"));
    QVERIFY(appendLogLine(log, "/images/dos\r\nstyle.jpg"));
    QCOMPARE(readAll(log), kLogHeaderBytes + "/images/two\\nlines.jpg\r\n/images/dos\\r\\nstyle.jpg\r\n");
}

void PathsTest::logIsNeverWrittenThroughALink()
{
    ScratchTemp temp;
    QVERIFY(writeAll(temp.path("precious.txt"), "keep me"));
    QVERIFY(QFile::link(temp.path("precious.txt"), temp.path("Log.txt")));
    QVERIFY(!createLog(temp.path("Log.txt")));
    QVERIFY(!appendLogLine(temp.path("Log.txt"), "/images/a.jpg"));
    QCOMPARE(readAll(temp.path("precious.txt")), QByteArray("keep me"));
}

void PathsTest::deleteLogIgnoresWhatIsNotThere()
{
    ScratchTemp temp;
    deleteLog(QString());
    deleteLog(temp.path("missing.txt"));
    QVERIFY(createLog(temp.path("Log.txt")));
    deleteLog(temp.path("Log.txt"));
    QVERIFY(!QFileInfo::exists(temp.path("Log.txt")));
}

QTEST_MAIN(PathsTest)
#include "paths_test.moc"
