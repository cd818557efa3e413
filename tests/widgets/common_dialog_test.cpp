// The run's open dialog, the real one: it lists the files of the input extension in any letter
// case, as a folder run converts them, and hands back the chosen file's path.
#include <QAbstractItemView>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>

#include "tests/support/window_testkit.h"
#include "widgets/common_dialog.h"

class CommonDialogTest : public QObject {
    Q_OBJECT

private slots:
    void listsTheExtensionInAnyCase();
};

namespace {

// The names the dialog's file list shows, sorted.
QStringList listedNames(QFileDialog* dialog)
{
    auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
    QStringList names;
    if (!view || !view->model())
        return names;
    for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
        names << view->model()->index(row, 0, view->rootIndex()).data().toString();
    names.sort();
    return names;
}

}  // namespace

void CommonDialogTest::listsTheExtensionInAnyCase()
{
    ScratchTemp temp;
    for (const char* name : {"PHOTO.BMP", "a.bmp", "c.Bmp", "d.bmpx", "e.txt", "bmp"})
        QVERIFY(writeAll(temp.path(QString::fromLatin1(name)), "x"));
    CommonDialog common(nullptr);
    common.Filter = QStringLiteral("BMP |*.bmp");

    bool qtOwn = false;
    QStringList listed;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            if (QApplication::activeModalWidget())
                QApplication::activeModalWidget()->close();  // not the dialog expected
            return;
        }
        qtOwn = dialog->testOption(QFileDialog::DontUseNativeDialog);
        dialog->setDirectory(temp.path());
        if (QTest::qWaitFor([&] { return listedNames(dialog).size() >= 3; }))
            listed = listedNames(dialog);
        if (auto* typed = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            typed->setText(QStringLiteral("PHOTO.BMP"));
        QMetaObject::invokeMethod(dialog, "accept");
        if (dialog->isVisible())
            dialog->reject();  // the answer was not taken
    });
    common.ShowOpen();

    QVERIFY2(qtOwn, "Qt's own dialog, whose filter matches in any letter case");
    QCOMPARE(listed, (QStringList{"PHOTO.BMP", "a.bmp", "c.Bmp"}));
    QCOMPARE(QDir::toNativeSeparators(common.FileName), temp.path(QStringLiteral("PHOTO.BMP")));
}

QTEST_MAIN(CommonDialogTest)
#include "common_dialog_test.moc"
