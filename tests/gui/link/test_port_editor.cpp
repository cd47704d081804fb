// The port list as the main window and the port editor read and write it:
// start-up loading, the editor's rows, Add/Delete/Save/Close and their
// refusals, and the chooser the editor's Save rebuilds.
#include "gui/link/frmPortManage.h"
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"
#include "ui_frmPortManage.h"

#include "MainWindowHarness.h"
#include "core/link/PortList.h"

#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>

using namespace MainWindowHarness;

namespace {
const QString kSaveQuestion = QStringLiteral("Save changes you have made to the ports list?");

QStringList rowsOf(const frmPortManage &e)
{
    QStringList out;
    for (const PortEntry &r : e.rows())
        out << r.port + '|' + r.serialNo;
    return out;
}

QStringList chooserOf(const Ui::frmMain &f)
{
    QStringList out;
    for (int i = 0; i < f.cboLocators->count(); ++i)
        out << f.cboLocators->itemText(i) + '|' + QString::number(f.cboLocators->itemData(i).toInt());
    return out;
}
}  // namespace

class TestPortEditor : public QObject, private WindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup()
    {
        m_window.reset();
        tearDown();
    }

    void loadsWhatStartUpLoads_data();
    void loadsWhatStartUpLoads();
    void saveRebuildsChooserInRowOrder();
    void saveOfEmptyListWritesOneEmptyLine();
    void closeAsksAndNoDiscards();
    void closeYesSaves();
    void openingAgainOnlyBringsForward();
    void addRefusesIncompleteEntries();
    void deleteNeedsASelectedRow();
    void onlyThePortCellIsEditable();
    void saveRefusesPortThatIsNotANumber();

private:
    frmMain &window()
    {
        if (!m_window)
            m_window = std::make_unique<frmMain>();
        return *m_window;
    }
    frmPortManage &openEditor()
    {
        window().cmdManagePorts_Click();
        auto *e = window().findChild<frmPortManage *>();
        Q_ASSERT(e);
        return *e;
    }
    Ui::frmPortManage &ed() { return *openEditor().form(); }

    std::unique_ptr<frmMain> m_window;
};

void TestPortEditor::loadsWhatStartUpLoads_data()
{
    QTest::addColumn<QByteArray>("file");  // null: no file and no folder
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("missing") << QByteArray() << QStringList{};
    QTest::newRow("empty file") << QByteArray("") << QStringList{};
    QTest::newRow("one empty line") << QByteArray("\r\n") << QStringList{};
    QTest::newRow("entry on line 1 is lost") << QByteArray("001234,3\r\n") << QStringList{};
    QTest::newRow("one entry") << QByteArray("\r\n001234,3\r\n") << QStringList{"3|001234"};
    QTest::newRow("malformed lines skipped") << QByteArray("\r\n001234,3\r\nno comma\r\n\r\n005678,12,extra\n777,4")
                                             << QStringList{"3|001234", "12|005678", "4|777"};
}

void TestPortEditor::loadsWhatStartUpLoads()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, rows);
    if (!file.isNull())
        QVERIFY(writeFile(m_env->portListPath(), file));
    const frmPortManage &e = openEditor();
    QVERIFY(e.isVisible());
    QCOMPARE(e.windowTitle(), QStringLiteral("Port Editor"));
    QCOMPARE(e.form()->lvPorts->headerItem()->text(0), QStringLiteral("Port"));
    QCOMPARE(e.form()->lvPorts->headerItem()->text(1), QStringLiteral("Serial No"));
    QCOMPARE(rowsOf(e), rows);
    QVERIFY(!e.PortListChanged);
    QStringList chooser;
    for (const QString &r : rows)
        chooser << r.section('|', 1) + '|' + r.section('|', 0, 0);
    QCOMPARE(chooserOf(*window().form()), chooser);
    QVERIFY(m_ui->messages.isEmpty());
}

void TestPortEditor::saveRebuildsChooserInRowOrder()
{
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,3\r\n005678,7\r\n"));
    QComboBox *chooser = window().form()->cboLocators;
    chooser->setCurrentIndex(chooser->findText(QStringLiteral("001234")));  // as after a pick
    Ui::frmPortManage &f = ed();
    delete f.lvPorts->topLevelItem(0);  // move 001234 to the end: delete, then add again
    f.txtPort->setText(QStringLiteral("03"));
    f.txtSerialNo->setText(QStringLiteral("001234"));
    f.cmdAdd->click();
    QVERIFY(f.txtPort->text().isEmpty() && f.txtSerialNo->text().isEmpty());
    f.cmdSave->click();

    QCOMPARE(readFile(m_env->portListPath()), QByteArray("\r\n005678,7\r\n001234,3\r\n"));
    QCOMPARE(chooserOf(*window().form()), (QStringList{"005678|7", "001234|3"}));
    QVERIFY(!openEditor().PortListChanged);
    QVERIFY(openEditor().isVisible());  // Save leaves the editor open

    // Opening the rebuilt list is no pick: no test starts.
    QCOMPARE(chooser->currentText(), QStringLiteral("001234"));
    window().show();
    QApplication::setActiveWindow(&window());
    QVERIFY(QTest::qWaitForWindowActive(&window()));
    QStyleOptionComboBox opt;
    opt.initFrom(chooser);
    opt.editable = true;
    const QRect arrow = chooser->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxArrow, chooser);
    QTest::mouseClick(chooser, Qt::LeftButton, {}, arrow.center());
    QVERIFY(m_ui->questions.isEmpty());
    QVERIFY(m_ui->messages.isEmpty());
    QVERIFY(!window().MSComm2().isOpen());
    QCOMPARE(window().form()->shpMode->fillColor(), QColor(255, 0, 0));  // never tried: still as at start
    chooser->hidePopup();
}

void TestPortEditor::saveOfEmptyListWritesOneEmptyLine()
{
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,3\r\n"));
    Ui::frmPortManage &f = ed();
    f.lvPorts->setCurrentItem(f.lvPorts->topLevelItem(0));
    f.cmdDelete->click();
    QVERIFY(openEditor().PortListChanged);
    f.cmdSave->click();
    QCOMPARE(readFile(m_env->portListPath()), QByteArray("\r\n"));
    QCOMPARE(window().form()->cboLocators->count(), 0);
}

void TestPortEditor::closeAsksAndNoDiscards()
{
    const QByteArray before = "\r\n001234,3\r\n";
    QVERIFY(writeFile(m_env->portListPath(), before));
    Ui::frmPortManage &f = ed();
    f.txtPort->setText(QStringLiteral("4"));
    f.txtSerialNo->setText(QStringLiteral("999999"));
    f.cmdAdd->click();
    m_ui->answers.enqueue(false);
    f.cmdClose->click();

    QCOMPARE(m_ui->questions, QStringList{kSaveQuestion});
    QVERIFY(!window().findChild<frmPortManage *>()->isVisible());  // closed on No as on Yes
    QCOMPARE(readFile(m_env->portListPath()), before);
    QCOMPARE(chooserOf(*window().form()), QStringList{"001234|3"});
    // Opening it again shows the file, not the discarded row.
    QCOMPARE(rowsOf(openEditor()), QStringList{"3|001234"});

    // Nothing changed: Close asks nothing.
    m_ui->questions.clear();
    ed().cmdClose->click();
    QVERIFY(m_ui->questions.isEmpty());
    QVERIFY(!window().findChild<frmPortManage *>()->isVisible());
}

void TestPortEditor::closeYesSaves()
{
    Ui::frmPortManage &f = ed();  // no file yet: Save creates folder and file
    f.txtPort->setText(QStringLiteral("4"));
    f.txtSerialNo->setText(QStringLiteral("999999"));
    f.cmdAdd->click();
    m_ui->answers.enqueue(true);
    f.cmdClose->click();
    QCOMPARE(readFile(m_env->portListPath()), QByteArray("\r\n999999,4\r\n"));
    QCOMPARE(chooserOf(*window().form()), QStringList{"999999|4"});
    QVERIFY(!window().findChild<frmPortManage *>()->isVisible());
}

void TestPortEditor::openingAgainOnlyBringsForward()
{
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,3\r\n"));
    Ui::frmPortManage &f = ed();
    f.txtPort->setText(QStringLiteral("4"));
    f.txtSerialNo->setText(QStringLiteral("999999"));
    f.cmdAdd->click();
    // While open, "Manage" keeps what the window holds; there is only ever one editor.
    QCOMPARE(rowsOf(openEditor()), (QStringList{"3|001234", "4|999999"}));
    QVERIFY(openEditor().PortListChanged);
    QCOMPARE(window().findChildren<frmPortManage *>().size(), 1);
    // Closing by the frame asks nothing; the next opening reloads the file.
    openEditor().close();
    QVERIFY(m_ui->questions.isEmpty());
    QCOMPARE(rowsOf(openEditor()), QStringList{"3|001234"});
    QVERIFY(!openEditor().PortListChanged);
}

void TestPortEditor::addRefusesIncompleteEntries()
{
    Ui::frmPortManage &f = ed();
    const frmPortManage &e = openEditor();
    f.cmdAdd->click();  // nothing typed: nothing happens
    QVERIFY(m_ui->messages.isEmpty());
    QVERIFY(!e.PortListChanged);

    const QList<QPair<QString, QString>> refused{{"", "001234"},   {"5", ""},        {"five", "001234"},
                                                 {"0", "001234"},  {"-3", "001234"}, {"257", "001234"},
                                                 {"5", "00,1234"}, {"5", "   "}};
    for (const auto &[port, serialNo] : refused) {
        f.txtPort->setText(port);
        f.txtSerialNo->setText(serialNo);
        f.cmdAdd->click();
    }
    QCOMPARE(m_ui->messages.size(), refused.size());
    QCOMPARE(f.lvPorts->topLevelItemCount(), 0);
    QVERIFY(!e.PortListChanged);
    QCOMPARE(f.txtPort->text(), QStringLiteral("5"));  // the typed text stays for correcting

    f.txtSerialNo->setText(QStringLiteral(" 001234 "));
    f.txtPort->setText(QStringLiteral("016"));
    f.cmdAdd->click();
    QCOMPARE(rowsOf(e), QStringList{"16|001234"});
    QVERIFY(e.PortListChanged);
}

void TestPortEditor::deleteNeedsASelectedRow()
{
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,3\r\n005678,7\r\n"));
    Ui::frmPortManage &f = ed();
    const frmPortManage &e = openEditor();
    f.lvPorts->clearSelection();
    f.cmdDelete->click();
    QCOMPARE(f.lvPorts->topLevelItemCount(), 2);
    QVERIFY(!e.PortListChanged);

    f.lvPorts->setCurrentItem(f.lvPorts->topLevelItem(1));
    f.cmdDelete->click();
    QCOMPARE(rowsOf(e), QStringList{"3|001234"});
    QVERIFY(e.PortListChanged);
}

void TestPortEditor::onlyThePortCellIsEditable()
{
    QVERIFY(writeFile(m_env->portListPath(), "\r\n001234,3\r\n"));
    Ui::frmPortManage &f = ed();
    QTreeWidgetItem *row = f.lvPorts->topLevelItem(0);
    f.lvPorts->editItem(row, 1);
    QVERIFY(f.lvPorts->findChildren<QLineEdit *>().isEmpty());
    f.lvPorts->editItem(row, 0);
    const QList<QLineEdit *> editors = f.lvPorts->findChildren<QLineEdit *>();
    QCOMPARE(editors.size(), 1);
    QLineEdit *editor = editors.first();
    editor->setText(QStringLiteral("8"));
    QTest::keyClick(editor, Qt::Key_Return);  // the view commits it from its event queue
    QTRY_COMPARE(rowsOf(openEditor()), QStringList{"8|001234"});
    QVERIFY(openEditor().PortListChanged);  // a corrected port is not lost unasked on Close
}

void TestPortEditor::saveRefusesPortThatIsNotANumber()
{
    const QByteArray before = "\r\n001234,3\r\n005678,x7\r\n";
    QVERIFY(writeFile(m_env->portListPath(), before));
    const QStringList chooserBefore = chooserOf(*window().form());
    Ui::frmPortManage &f = ed();
    f.cmdSave->click();  // a bad port read from the file is refused too
    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY(m_ui->messages[0].contains(QStringLiteral("005678")));
    QCOMPARE(readFile(m_env->portListPath()), before);
    QCOMPARE(chooserOf(*window().form()), chooserBefore);

    f.lvPorts->topLevelItem(1)->setText(0, QStringLiteral("3 4"));
    f.cmdSave->click();
    QCOMPARE(m_ui->messages.size(), 2);
    QCOMPARE(readFile(m_env->portListPath()), before);
    QVERIFY(openEditor().PortListChanged);

    // Close with Yes and a refused Save keeps the window open with its rows.
    m_ui->answers.enqueue(true);
    f.cmdClose->click();
    QCOMPARE(m_ui->messages.size(), 3);
    QVERIFY(openEditor().isVisible());
    QCOMPARE(rowsOf(openEditor()), (QStringList{"3|001234", "3 4|005678"}));

    f.lvPorts->topLevelItem(1)->setText(0, QStringLiteral("7"));
    f.cmdSave->click();
    QCOMPARE(readFile(m_env->portListPath()), QByteArray("\r\n001234,3\r\n005678,7\r\n"));
    QCOMPARE(chooserOf(*window().form()), (QStringList{"001234|3", "005678|7"}));
}

QTEST_MAIN(TestPortEditor)
#include "test_port_editor.moc"
