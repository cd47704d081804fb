#include "ScriptedInteraction.h"
#include "TestEnvironment.h"
#include "core/usage/ModeTable.h"
#include "core/viewer/SortKeys.h"
#include "core/viewer/ViewerColumns.h"
#include "gui/common/AppState.h"
#include "gui/viewer/ViewerModel.h"
#include "gui/viewer/frmViewData.h"
#include "ui_frmViewData.h"

#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QtTest>

#include <memory>

using namespace Viewer;

namespace {

QByteArray headerLine()
{
    return "#DA" + QByteArray("JOHN").leftJustified(32, '_') + QByteArray(16, '-') + "LOC_2000" + "__001234";
}

QColor modeColour(char letter)
{
    const ModeTable::Rgb c = ModeTable::Modes[std::size_t(ModeTable::IndexOf(letter))].colour;
    return QColor(c.r, c.g, c.b);
}

}  // namespace

class TestFrmViewData : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void layoutAndHeaders();
    void rowsColoursAndTotals();
    void identityAndLegend();
    void headerClicksSort();
    void sortSuspendsDrawingUnderBusyPointer();
    void fileWithoutRecords();
    void missingFileIsReported();

private:
    void writeDataFile(const QByteArray &body);
    std::unique_ptr<frmViewData> open();
    static QStringList rowTexts(const ViewerModel &model);
    static void clickHeader(frmViewData &window, int column);

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<ScriptedInteraction> m_interaction;
    std::unique_ptr<AppState> m_state;
    int m_rows = 0;
};

void TestFrmViewData::init()
{
    m_env = std::make_unique<TestEnvironment>();
    m_interaction = std::make_unique<ScriptedInteraction>();
    m_state = std::make_unique<AppState>();
    m_state->DataFolder = m_env->dataDir() + '/';
    m_state->CurrentDataFile = QStringLiteral("Locator Usage for JOHN.csv");
    QDir().mkpath(m_env->dataDir());

    // One record of no mode, 3725 seconds of DarAdar, a minute of
    // Transmitter, a record of an unknown mode, one of Power and the note a
    // stopped transfer leaves.
    QByteArray body;
    QDateTime t(QDate(2012, 5, 31), QTime(23, 0, 0));
    int n = 0;
    const auto add = [&](const char *mode) {
        body += t.toString(QStringLiteral("dd/MM/yy,HH:mm:ss,")).toLatin1() + mode;
        body += QByteArray(mode) == "T" ? ",33KHz,D," : ",0,0,";
        body += (n % 7 == 0 ? QByteArray("LO") : QByteArray::number(n % 300) + ".25") + ',';
        body += QByteArray::number(n % 31) + "\r\n";
        t = t.addSecs(n % 5 == 0 ? 3 : 1);
        ++n;
    };
    add("X");
    for (int i = 0; i < 3725; ++i)
        add("A");
    for (int i = 0; i < 60; ++i)
        add("T");
    add("Q");
    add("P");
    body += "ABORT\x1a";
    m_rows = n + 1;
    writeDataFile(body);
}

void TestFrmViewData::cleanup()
{
    m_state.reset();
    m_interaction.reset();
    m_env.reset();
}

void TestFrmViewData::writeDataFile(const QByteArray &body)
{
    QFile f(m_state->currentDataFilePath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("//     Date(DD/MM/YY)\r\n// Date,Time,Mode,Frequency,Measurement,Depth,Signal Strength\r\n");
    f.write(headerLine() + "\r\n" + body);
}

std::unique_ptr<frmViewData> TestFrmViewData::open()
{
    auto window = std::make_unique<frmViewData>(*m_state);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->show();
    return window;
}

QStringList TestFrmViewData::rowTexts(const ViewerModel &model)
{
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < ColumnCount; ++c)
            cells << model.index(r, c).data().toString();
        cells << model.index(r, 0).data(Qt::ForegroundRole).value<QColor>().name();
        rows << cells.join('|');
    }
    return rows;
}

void TestFrmViewData::clickHeader(frmViewData &window, int column)
{
    QHeaderView *header = window.form()->lvwList->horizontalHeader();
    window.form()->lvwList->scrollTo(window.model().index(0, column), QAbstractItemView::EnsureVisible);
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

void TestFrmViewData::layoutAndHeaders()
{
    const auto window = open();
    QCOMPARE(window->windowTitle(), QStringLiteral("View data"));
    QTableView *list = window->findChild<QTableView *>(QStringLiteral("lvwList"));
    QVERIFY(list);
    QCOMPARE(list->model(), &window->model());
    QCOMPARE(list->palette().color(QPalette::Base), QColor(64, 64, 64));

    const QStringList headers = {"Date", "Mode", "Frequency", "Measurement", "Depth", "Signal Strength"};
    const QStringList tags = {"DATE", "STRING", "NUMBER", "NUMBER", "NUMBER", "NUMBER"};
    const ViewerModel &model = window->model();
    for (int c = 0; c < ColumnCount; ++c) {
        QCOMPARE(model.headerData(c, Qt::Horizontal).toString(), headers[c]);
        QCOMPARE(model.headerData(c, Qt::Horizontal, ViewerModel::TypeTagRole).toString(), tags[c]);
        const Qt::Alignment cellAlign = model.index(0, c).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
        QCOMPARE(cellAlign & Qt::AlignHorizontal_Mask, c == 0 ? Qt::AlignLeft : Qt::AlignHCenter);
        QCOMPARE(list->horizontalHeader()->sectionSize(c), TwipsToPixels(1700, list->logicalDpiX()));
        // As loaded only "Date" shows an image, "asc".
        const QPixmap image = model.headerData(c, Qt::Horizontal, Qt::DecorationRole).value<QPixmap>();
        QCOMPARE(model.headerImage(c), c == 0 ? QStringLiteral("asc") : QString());
        QCOMPARE(image.isNull(), c != 0);
    }
    QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DecorationRole).value<QPixmap>().size(), QSize(16, 16));

    // Escape closes it.
    QApplication::setActiveWindow(window.get());
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(list, Qt::Key_Escape);
    QTRY_VERIFY(!window->isVisible());
}

void TestFrmViewData::rowsColoursAndTotals()
{
    const auto window = open();
    const ViewerModel &model = window->model();
    QCOMPARE(model.rowCount(), m_rows);
    QVERIFY(m_interaction->messages.isEmpty());

    const auto colourOf
        = [&](int row, int column) { return model.index(row, column).data(Qt::ForegroundRole).value<QColor>(); };
    QCOMPARE(model.index(1, 0).data().toString(), QStringLiteral("31/05/12   23:00:03"));
    QCOMPARE(model.index(1, 1).data().toString(), QStringLiteral("A"));
    QCOMPARE(colourOf(0, 0), QColor(0, 0, 0));  // no mode yet
    QCOMPARE(colourOf(1, 5), modeColour('A'));
    QCOMPARE(colourOf(3726, 3), modeColour('T'));
    const int unknown = m_rows - 3;
    QCOMPARE(model.index(unknown, 1).data().toString(), QStringLiteral("Q"));
    QCOMPARE(colourOf(unknown, 2), modeColour('T'));  // keeps the row before's colour
    QCOMPARE(colourOf(m_rows - 2, 0), modeColour('P'));
    QCOMPARE(model.index(m_rows - 1, 0).data().toString(), QStringLiteral("ABORT"));
    QCOMPARE(model.index(m_rows - 1, 5).data().toString(), QString());
    QCOMPARE(colourOf(m_rows - 1, 4), modeColour('P'));

    const QList<QPair<QString, QStringList>> totals = {
        {"lblDarAdarTotal", {"1 Hrs", "2 Mins", "5 Secs"}}, {"lblTransmitterTotal", {"0 Hrs", "1 Mins", "0 Secs"}},
        {"lblRadioTotal", {"0 Hrs", "0 Mins", "0 Secs"}},   {"lblPowerTotal", {"0 Hrs", "0 Mins", "1 Secs"}},
        {"lblUsageTime", {"1 Hrs", "3 Mins", "6 Secs"}},
    };
    for (const auto &[prefix, pieces] : totals) {
        const QStringList units = {"Hours", "Mins", "Secs"};
        for (int i = 0; i < 3; ++i) {
            const QLabel *label = window->findChild<QLabel *>(prefix + units[i]);
            QVERIFY2(label, qPrintable(prefix + units[i]));
            QCOMPARE(label->text(), pieces[i]);
        }
    }
}

void TestFrmViewData::identityAndLegend()
{
    const auto window = open();
    Ui::frmViewData *ui = window->form();
    QCOMPARE(ui->txtUser->text(), QStringLiteral("JOHN") + QString(28, '_'));
    QCOMPARE(ui->txtModel->text(), QStringLiteral("LOC 2000"));
    QCOMPARE(ui->txtSerial->text(), QStringLiteral("  001234"));

    // Each box shows its field's full length in capitals, the widest there
    // are: with the cursor at the end, the text's start is still inside.
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    for (const auto &[box, length] :
         {std::pair{ui->txtUser, 32}, std::pair{ui->txtModel, 8}, std::pair{ui->txtSerial, 8}}) {
        for (char capital : {'W', 'M', 'Q'}) {
            const QString text(length, QLatin1Char(capital));
            box->setText(text);
            box->end(false);
            const int cursor = box->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
            const int textStart = cursor - box->fontMetrics().horizontalAdvance(text);
            QVERIFY2(textStart >= 0 && cursor <= box->width(), qPrintable(box->objectName() + ": " + text));
        }
    }
    // Model and serial take no more room than their eight characters need.
    QVERIFY(ui->txtModel->width() < ui->txtUser->width() / 2);
    QCOMPARE(ui->txtSerial->width(), ui->txtModel->width());

    // "P" at the top down to "A", each letter in its mode's colour on dark grey.
    const QList<QPair<QString, QString>> legend
        = {{"P", "Power"}, {"R", "Radio"}, {"T", "Transmitter"}, {"A", "DarAdar"}};
    int lastY = -1;
    for (const auto &[letter, name] : legend) {
        const QLabel *key = window->findChild<QLabel *>("lblKey" + letter);
        const QLabel *label = window->findChild<QLabel *>("lblKeyName" + letter);
        QVERIFY(key && label);
        QCOMPARE(key->text(), letter);
        QCOMPARE(label->text(), name);
        QCOMPARE(key->palette().color(QPalette::WindowText), modeColour(letter.at(0).toLatin1()));
        QCOMPARE(key->palette().color(QPalette::Window), QColor(64, 64, 64));
        QVERIFY(key->y() > lastY);
        QCOMPARE(label->y(), key->y());
        lastY = key->y();
    }
}

void TestFrmViewData::headerClicksSort()
{
    const auto window = open();
    ViewerModel &model = window->model();
    QStringList before = rowTexts(model);

    // First click on "Date": newest first, the row without a date last.
    clickHeader(*window, DateColumn);
    QCOMPARE(model.headerImage(DateColumn), QStringLiteral("desc"));
    QCOMPARE(model.index(0, 0).data().toString(), before[m_rows - 2].section('|', 0, 0));
    QCOMPARE(model.index(m_rows - 1, 0).data().toString(), QStringLiteral("ABORT"));
    for (int r = 1; r < m_rows; ++r) {
        QVERIFY(DateKeyText(model.index(r - 1, 0).data().toString())
                >= DateKeyText(model.index(r, 0).data().toString()));
    }
    // Second click: oldest first, the row without a date at the top.
    clickHeader(*window, DateColumn);
    QCOMPARE(model.headerImage(DateColumn), QStringLiteral("asc"));
    QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("ABORT"));
    QCOMPARE(model.index(1, 0).data().toString(), before[0].section('|', 0, 0));

    // "Signal Strength" ascending, numerically; "Date" loses its image.
    clickHeader(*window, SignalColumn);
    QCOMPARE(model.headerImage(SignalColumn), QStringLiteral("asc"));
    QCOMPARE(model.headerImage(DateColumn), QString());
    QCOMPARE(model.index(0, SignalColumn).data().toString(), QString());  // ABORT has no such field
    double last = -1;
    for (int r = 1; r < m_rows; ++r) {
        const double v = model.index(r, SignalColumn).data().toString().toDouble();
        QVERIFY2(v >= last, qPrintable(QString::number(r)));
        last = v;
    }
    QCOMPARE(last, 30.0);

    // "Depth": the LO cells have the empty key, after every number descending.
    clickHeader(*window, 4);
    clickHeader(*window, 4);
    QCOMPARE(model.headerImage(4), QStringLiteral("desc"));
    QCOMPARE(model.index(0, 4).data().toString(), QStringLiteral("299.25"));
    int firstEmpty = 0;
    while (!NumberKeyText(model.index(firstEmpty, 4).data().toString()).isEmpty())
        ++firstEmpty;
    const int loRows = (m_rows - 2) / 7 + 1;  // every seventh record, from the first
    QCOMPARE(firstEmpty, m_rows - loRows - 1);
    // Their order is the one they had: ABORT led them in the ascending sort.
    QCOMPARE(model.index(firstEmpty, 0).data().toString(), QStringLiteral("ABORT"));
    for (int r = firstEmpty + 1; r < m_rows; ++r)
        QCOMPARE(model.index(r, 4).data().toString(), QStringLiteral("LO"));

    clickHeader(*window, ModeColumn);
    clickHeader(*window, 2);
    clickHeader(*window, 3);

    // Every row still shows exactly what it showed, in its colour.
    QStringList after = rowTexts(model);
    QCOMPARE(after.size(), before.size());
    before.sort();
    after.sort();
    QCOMPARE(after, before);
}

void TestFrmViewData::sortSuspendsDrawingUnderBusyPointer()
{
    const auto window = open();
    QTableView *list = window->form()->lvwList;
    int reorders = 0;
    bool suspended = false;
    bool busy = false;
    connect(&window->model(), &QAbstractItemModel::layoutAboutToBeChanged, this, [&] {
        ++reorders;
        suspended = !list->updatesEnabled();
        busy = QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
    });
    // The view's current row follows its record through the sort.
    list->setCurrentIndex(window->model().index(2, 0));
    const QString current = list->currentIndex().data().toString();
    window->lvwList_ColumnClick(DateColumn);
    QCOMPARE(reorders, 1);
    QVERIFY(suspended);
    QVERIFY(busy);
    QVERIFY(list->updatesEnabled());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(list->currentIndex().data().toString(), current);
    QCOMPARE(list->currentIndex().row(), m_rows - 4);
}

void TestFrmViewData::fileWithoutRecords()
{
    writeDataFile("\x1a");
    const auto window = open();
    QCOMPARE(window->model().rowCount(), 0);
    QVERIFY(m_interaction->messages.isEmpty());
    QCOMPARE(window->form()->lblUsageTimeHours->text(), QStringLiteral("0 Hrs"));
    QCOMPARE(window->form()->lblUsageTimeSecs->text(), QStringLiteral("0 Secs"));
    window->lvwList_ColumnClick(DateColumn);  // sorting nothing is no failure
    QCOMPARE(window->model().headerImage(DateColumn), QStringLiteral("desc"));
}

void TestFrmViewData::missingFileIsReported()
{
    m_state->CurrentDataFile = QStringLiteral("gone.csv");
    const auto window = open();
    QCOMPARE(window->model().rowCount(), 0);
    QCOMPARE(m_interaction->messages.size(), 1);
    QVERIFY(m_interaction->messages[0].contains(QStringLiteral("gone.csv")));
    QCOMPARE(window->form()->lblDarAdarTotalHours->text(), QStringLiteral("0 Hrs"));
    QCOMPARE(window->form()->txtUser->text(), QString());
}

QTEST_MAIN(TestFrmViewData)
#include "test_frmviewdata.moc"
