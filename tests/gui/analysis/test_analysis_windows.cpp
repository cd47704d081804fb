// The Analyse Data and day usage windows offscreen, on crafted data files:
// the month they open on, the bold days, what the pie shows, the no-data and
// failure states, the date click, and the chart images.
#include "AnalysisFiles.h"
#include "ScriptedInteraction.h"
#include "TestEnvironment.h"
#include "core/datafile/DataFileHandle.h"
#include "core/usage/ChosenDate.h"
#include "core/usage/UsageTexts.h"
#include "gui/analysis/UsagePie.h"
#include "gui/analysis/frmPieByDayMode.h"
#include "gui/analysis/frmPieByMonthMode2.h"
#include "gui/common/AppState.h"
#include "gui/common/Folders.h"
#include "ui_frmPieByDayMode.h"
#include "ui_frmPieByMonthMode2.h"

#include <QImageReader>
#include <QPointer>
#include <QTextCharFormat>
#include <QtCharts/QChartView>
#include <QtTest>

using AnalysisFiles::Record;
using AnalysisFiles::Records;

namespace {

// Also notes what the save dialog was opened with.
class RecordingInteraction : public ScriptedInteraction
{
public:
    QStringList saveCaptions;
    QStringList proposedPaths;
    QString saveFileName(QWidget *w, const QString &caption, const QString &path, const QString &filter) override
    {
        saveCaptions << caption;
        proposedPaths << path;
        return ScriptedInteraction::saveFileName(w, caption, path, filter);
    }
};

const QDateTime kNow(QDate(2026, 12, 6), QTime(19, 55, 1));

QStringList labels(const UsagePie &pie)
{
    QStringList out;
    for (const UsagePie::Slice &s : pie.slices())
        out << s.label;
    return out;
}

QList<double> values(const UsagePie &pie)
{
    QList<double> out;
    for (const UsagePie::Slice &s : pie.slices())
        out << s.value;
    return out;
}

bool bold(const frmPieByMonthMode2 &w, QDate date)
{
    return w.form()->MonthView1->dateTextFormat(date).fontWeight() == QFont::Bold;
}

}  // namespace

class TestAnalysisWindows : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensOnSecondLineMonthWithBoldDays();
    void slices_data();
    void slices();
    void noData_data();
    void noData();
    void readingFailures_data();
    void readingFailures();
    void transferWritingIsNotDisturbed();

    void dateClickOpensDayWindow_data();
    void dateClickOpensDayWindow();
    void dayWindowKeepsItsDay();
    void dayWindowFailures();

    void saveMonthImage();
    void saveCancelledOrWithoutChart();
    void openImageFolder();
    void keyboard();
    void longUserNameKeepsBothCaptionLines();

private:
    void writeData(const QByteArrayList &lines);
    frmPieByMonthMode2 *openWindow();
    void clickDate(QDate date) { emit m_window->form()->MonthView1->clicked(date); }

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<RecordingInteraction> m_ui;
    std::unique_ptr<AppState> m_state;
    QPointer<frmPieByMonthMode2> m_window;
    QStringList m_statusLine;
};

void TestAnalysisWindows::init()
{
    m_env = std::make_unique<TestEnvironment>();
    m_ui = std::make_unique<RecordingInteraction>();
    m_ui->clock.set(kNow);
    m_state = std::make_unique<AppState>();
    m_state->DocumentsFolder = m_env->documentsDir();
    m_state->DataFolder = m_env->dataDir() + '/';
    m_state->ImagesFolder = m_env->documentsDir() + QStringLiteral("/korvex/images/");
    m_state->CurrentDataFile = QStringLiteral("usage.csv");
    m_state->Identity = {QStringLiteral("LOC2000"), QStringLiteral("1234"), QStringLiteral("BOB")};
    m_statusLine.clear();
    Chosen() = {};
}

void TestAnalysisWindows::cleanup()
{
    delete frmPieByMonthMode2::dayWindow();
    delete m_window;
    QVERIFY(!ProcessDataFile().isOpen());
    m_state.reset();
    m_ui.reset();
    m_env.reset();
}

void TestAnalysisWindows::writeData(const QByteArrayList &lines)
{
    QVERIFY(writeFile(m_state->currentDataFilePath(), AnalysisFiles::DataFile(lines)));
}

frmPieByMonthMode2 *TestAnalysisWindows::openWindow()
{
    AnalysisHooks hooks;
    hooks.setStatus = [this](const QString &text) { m_statusLine << text; };
    m_window = new frmPieByMonthMode2(*m_state, hooks);
    return m_window;
}

void TestAnalysisWindows::opensOnSecondLineMonthWithBoldDays()
{
    writeData({Record("10/01/11", 'A'), Record("02/03/11", 'A'), Record("15/03/11", 'T'), Record("15/03/11", 'T'),
               Record("28/03/11", 'R'), Record("05/04/11", 'P')});
    frmPieByMonthMode2 *w = openWindow();
    QCOMPARE(w->windowTitle(), QStringLiteral("Analyse Data"));
    QCOMPARE(w->shownMonth(), 3);
    QCOMPARE(w->shownYear(), 11);
    QCOMPARE(w->form()->MonthView1->yearShown(), 2011);
    QCOMPARE(w->form()->MonthView1->monthShown(), 3);
    for (int day : {2, 15, 28})
        QVERIFY2(bold(*w, QDate(2011, 3, day)), qPrintable(QString::number(day)));
    QVERIFY(!bold(*w, QDate(2011, 3, 1)));
    QVERIFY(!bold(*w, QDate(2011, 4, 5)));
    QVERIFY(!bold(*w, QDate(2011, 1, 10)));

    const UsagePie &pie = w->pie();
    QVERIFY(pie.shown());
    QCOMPARE(pie.caption(),
             QStringLiteral("Locator LOC2000, Serial no. 1234. User: BOB\r\n"
                            "Usage by Mode for 02/03/11 to 28/03/11"));
    QCOMPARE(pie.legendTitle(), QStringLiteral("Mode"));
    QCOMPARE(labels(pie), (QStringList{"DarAdar", "Transmitter", "Radio"}));
    QCOMPARE(values(pie), (QList<double>{1, 2, 1}));
    QCOMPARE(w->form()->lblUsageTime->text(), QStringLiteral("0 Hrs 0 Mins 4 Secs"));
    QVERIFY(w->form()->lblPieStatus->text().isEmpty());

    // Another month adds its marks; the earlier ones stay.
    w->form()->MonthView1->setCurrentPage(2011, 4);
    QCOMPARE(w->shownMonth(), 4);
    QVERIFY(bold(*w, QDate(2011, 4, 5)));
    QVERIFY(bold(*w, QDate(2011, 3, 15)));
    QCOMPARE(labels(pie), QStringList{"Power"});
    QCOMPARE(pie.caption().section(QStringLiteral("\r\n"), 1), QStringLiteral("Usage by Mode for April 2011"));
    QVERIFY(m_ui->messages.isEmpty());
}

void TestAnalysisWindows::slices_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QString>("usage");

    QTest::newRow("DarAdar only") << Records("02/03/11", 'A', 3725) << QStringList{"DarAdar"} << QList<double>{3725}
                                  << "1 Hrs 2 Mins 5 Secs";
    QTest::newRow("table order, not file order")
        << (Records("02/03/11", 'P', 3) + Records("03/03/11", 'R', 2) + Records("04/03/11", 'T', 1))
        << QStringList{"Transmitter", "Radio", "Power"} << QList<double>{1, 2, 3} << "0 Hrs 0 Mins 6 Secs";
    QTest::newRow("unknown letters only: no slice") << QByteArrayList{Record("02/03/11", 't'), Record("02/03/11", 'X')}
                                                    << QStringList{} << QList<double>{} << "0 Hrs 0 Mins 0 Secs";
}

void TestAnalysisWindows::slices()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(QStringList, labels);
    QFETCH(QList<double>, values);
    QFETCH(QString, usage);

    writeData(lines);
    frmPieByMonthMode2 *w = openWindow();
    const UsagePie &pie = w->pie();
    QVERIFY(pie.shown());
    QCOMPARE(::labels(pie), labels);
    QCOMPARE(::values(pie), values);
    QCOMPARE(w->form()->lblUsageTime->text(), usage);
    QCOMPARE(pie.legendTitle(), QStringLiteral("Mode"));
    const QList<UsagePie::Slice> slices = pie.slices();
    for (qsizetype i = 0; i < slices.size(); ++i) {
        const auto mode = std::find_if(ModeTable::Modes.begin(), ModeTable::Modes.end(), [&](const ModeTable::Mode &m) {
            return slices[i].label == QLatin1String(m.name.data(), qsizetype(m.name.size()));
        });
        QVERIFY(mode != ModeTable::Modes.end());
        QCOMPARE(slices[i].colour, QColor(mode->colour.r, mode->colour.g, mode->colour.b));
        QCOMPARE(slices[i].exploded, i == 0);
    }
}

void TestAnalysisWindows::noData_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<int>("pageYear");  // 0: stay on the month it opens on
    QTest::addColumn<int>("pageMonth");
    QTest::addColumn<QString>("status");

    QTest::newRow("file without records opens on this month")
        << QByteArrayList{"FFFFFFFF"} << 0 << 0 << "No data for December 2026";
    QTest::newRow("2005 never 205") << Records("03/03/05", 'A', 2) << 2005 << 2 << "No data for February 2005";
}

void TestAnalysisWindows::noData()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(int, pageYear);
    QFETCH(int, pageMonth);
    QFETCH(QString, status);

    writeData(lines);
    frmPieByMonthMode2 *w = openWindow();
    if (pageYear) {
        QCOMPARE(w->pie().caption().section(QStringLiteral("\r\n"), 1), QStringLiteral("Usage by Mode for March 2005"));
        w->form()->MonthView1->setCurrentPage(pageYear, pageMonth);
    }
    QCOMPARE(w->form()->lblPieStatus->text(), status);
    QVERIFY(!w->pie().shown());
    QVERIFY(w->form()->lblUsageTime->text().isEmpty());
    QVERIFY(m_ui->messages.isEmpty());
}

void TestAnalysisWindows::readingFailures_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing file") << false << QByteArray() << "The data file cannot be opened";
    QTest::newRow("empty file") << true << QByteArray() << "The data file appears to be corrupt";
    QTest::newRow("only comment lines") << true << DataFileFormat::DefaultCommentBlock()
                                        << "The data file appears to be corrupt";
}

void TestAnalysisWindows::readingFailures()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, contents);
    QFETCH(QString, message);

    if (exists)
        QVERIFY(writeFile(m_state->currentDataFilePath(), contents));
    frmPieByMonthMode2 *w = openWindow();
    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY2(m_ui->messages.first().startsWith(message), qPrintable(m_ui->messages.first()));
    QVERIFY(w->form()->lblPieStatus->text().startsWith(message));
    QVERIFY(!w->pie().shown());
    QVERIFY(!ProcessDataFile().isOpen());

    // Still usable: once the file is sound, the next month shown draws.
    writeData(Records("02/03/11", 'R', 5));
    w->form()->MonthView1->setCurrentPage(2011, 3);
    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY(w->pie().shown());
    QCOMPARE(labels(w->pie()), QStringList{"Radio"});
    QVERIFY(bold(*w, QDate(2011, 3, 2)));
}

void TestAnalysisWindows::transferWritingIsNotDisturbed()
{
    writeData(Records("02/03/11", 'R', 5));
    frmPieByMonthMode2 *w = openWindow();
    DataFileHandle &slot = ProcessDataFile();
    QVERIFY(slot.openForWrite(m_state->DataFolder + QStringLiteral("transfer.csv")));
    w->form()->MonthView1->setCurrentPage(2011, 4);
    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY(m_ui->messages.first().contains(QStringLiteral("transfer")));
    QVERIFY(slot.isWriting());
    slot.close();
}

void TestAnalysisWindows::dateClickOpensDayWindow_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("dayText");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QString>("usage");
    QTest::addColumn<QString>("period");

    QTest::newRow("15 March 2011") << QDate(2011, 3, 15) << "15" << QStringList{"Transmitter", "Radio"}
                                   << QList<double>{59, 61} << "0 Hrs 2 Mins 0 Secs"
                                   << "15/03/11";
    QTest::newRow("7 March 2011") << QDate(2011, 3, 7) << "07" << QStringList{"DarAdar"} << QList<double>{4}
                                  << "0 Hrs 0 Mins 4 Secs"
                                  << " 7/03/11";
}

void TestAnalysisWindows::dateClickOpensDayWindow()
{
    QFETCH(QDate, date);
    QFETCH(QString, dayText);
    QFETCH(QStringList, labels);
    QFETCH(QList<double>, values);
    QFETCH(QString, usage);
    QFETCH(QString, period);

    writeData(Records("01/03/11", 'P', 2) + Records("15/03/11", 'R', 61) + Records("15/03/11", 'T', 59)
              + Records(" 7/03/11", 'A', 3) + Records("07/03/11", 'A', 1) + Records("15/04/11", 'A', 9));
    frmPieByMonthMode2 *w = openWindow();
    QVERIFY(!frmPieByMonthMode2::dayWindow());
    clickDate(date);

    frmPieByDayMode *day = frmPieByMonthMode2::dayWindow();
    QVERIFY(day);
    QVERIFY(day->isVisible());
    QCOMPARE(day->windowTitle(), QStringLiteral("Form1"));
    // Set by the click, then rewritten by the day window as it opened.
    QCOMPARE(Chosen().ChosenDay, dayText);
    QCOMPARE(Chosen().ChosenMonth, 3);
    QCOMPARE(Chosen().ChosenYear, QStringLiteral("11"));
    QCOMPARE(::labels(day->pie()), labels);
    QCOMPARE(::values(day->pie()), values);
    QCOMPARE(day->pie().slices().first().exploded, true);
    QCOMPARE(day->pie().legendTitle(), QStringLiteral("Mode"));
    QCOMPARE(day->form()->lblUsageTime->text(), usage);
    QCOMPARE(day->pie().caption(),
             QStringLiteral("Locator LOC2000, Serial no. 1234. User: BOB\r\nUsage by Mode for ") + period);
    // The click also redraws the month.
    QCOMPARE(w->shownMonth(), 3);
    QCOMPARE(w->form()->lblUsageTime->text(), QStringLiteral("0 Hrs 2 Mins 6 Secs"));
}

void TestAnalysisWindows::dayWindowKeepsItsDay()
{
    writeData(Records("07/03/11", 'A', 5) + Records("15/03/11", 'T', 2));
    openWindow();
    clickDate(QDate(2011, 3, 7));
    QPointer<frmPieByDayMode> day = frmPieByMonthMode2::dayWindow();
    QVERIFY(day);

    clickDate(QDate(2011, 3, 15));
    QCOMPARE(frmPieByMonthMode2::dayWindow(), day.data());
    QCOMPARE(day->pie().caption().section(QStringLiteral("\r\n"), 1), QStringLiteral("Usage by Mode for 07/03/11"));
    QCOMPARE(Chosen().ChosenDay, QStringLiteral("15"));
    QCOMPARE(Chosen().ChosenYear, QStringLiteral("2011"));

    // The image is named after the day the chart shows, not the later click.
    m_ui->saveFiles << QString();
    day->form()->cmdSaveAsImage->click();
    QCOMPARE(
        m_ui->proposedPaths,
        QStringList{m_state->ImagesFolder
                    + QStringLiteral("Locator Usage for BOB LOC2000 1234 on 07-3-11____(06-12-2026--19-55-01).jpg")});
    QCOMPARE(m_ui->saveCaptions, QStringList{QString()});

    // Closing it ends it; the next click opens the day clicked.
    day->form()->Close->click();
    QTRY_VERIFY_WITH_TIMEOUT(day.isNull(), 5000);
    clickDate(QDate(2011, 3, 15));
    QVERIFY(frmPieByMonthMode2::dayWindow());
    QCOMPARE(labels(frmPieByMonthMode2::dayWindow()->pie()), QStringList{"Transmitter"});
    QCOMPARE(values(frmPieByMonthMode2::dayWindow()->pie()), QList<double>{2});

    // Escape closes the day window, then the month window.
    day = frmPieByMonthMode2::dayWindow();
    QPointer<frmPieByMonthMode2> month = m_window.data();
    for (QWidget *w : {static_cast<QWidget *>(day.data()), static_cast<QWidget *>(month.data())}) {
        w->show();
        QApplication::setActiveWindow(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTest::keyClick(w, Qt::Key_Escape);
    }
    QTRY_VERIFY_WITH_TIMEOUT(day.isNull() && month.isNull(), 5000);
}

void TestAnalysisWindows::dayWindowFailures()
{
    writeData(Records("07/03/11", 'A', 5));
    openWindow();
    clickDate(QDate(2011, 3, 8));
    frmPieByDayMode *day = frmPieByMonthMode2::dayWindow();
    QVERIFY(day);
    QCOMPARE(day->form()->lblPieStatus->text(), QStringLiteral("No data for chosen day"));
    QVERIFY(!day->pie().shown());
    QVERIFY(day->form()->lblUsageTime->text().isEmpty());
    QVERIFY(m_ui->messages.isEmpty());
    delete day;

    QVERIFY(writeFile(m_state->currentDataFilePath(), DataFileFormat::DefaultCommentBlock()));
    m_statusLine << QStringLiteral("before");
    clickDate(QDate(2011, 3, 7));
    QVERIFY(!m_ui->messages.isEmpty());
    QCOMPARE(m_ui->messages.first(), QStringLiteral("The data file appears to be corrupt"));
    QCOMPARE(m_statusLine.last(), QString());
    QVERIFY(frmPieByMonthMode2::dayWindow());
    QVERIFY(!frmPieByMonthMode2::dayWindow()->pie().shown());
}

void TestAnalysisWindows::saveMonthImage()
{
    // One mode: its slice is the whole circle.
    writeData(Records("02/03/11", 'T', 10) + Records("03/03/11", 'T', 5));
    frmPieByMonthMode2 *w = openWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QVERIFY(!QFileInfo::exists(m_state->ImagesFolder));

    const QString target = m_state->ImagesFolder + QStringLiteral("march chart");  // no extension: kept as typed
    m_ui->saveFiles << target;
    w->form()->cmdSaveAsImage->click();

    QCOMPARE(m_ui->proposedPaths,
             QStringList{m_state->ImagesFolder
                         + QStringLiteral("Locator Usage for BOB LOC2000 1234__ (06-12-2026--19-55-01).jpg")});
    QCOMPARE(m_ui->saveCaptions, QStringList{QStringLiteral("Save Graph as an Image")});
    QCOMPARE(m_ui->lastFilter, QStringLiteral("jpg (*.jpg)"));
    QVERIFY(m_ui->messages.isEmpty());

    QImageReader reader(target);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage image = reader.read();
    const QWidget *chart = w->form()->pie;
    QCOMPARE(image.size(), chart->size() * chart->devicePixelRatio());
    // Drawn as displayed: the chart's own ground to the very corner.
    const QColor corner = image.pixelColor(3, image.height() - 4);
    const QColor ground = UsagePie::background();
    QVERIFY2(qAbs(corner.red() - ground.red()) < 8 && qAbs(corner.green() - ground.green()) < 8
                 && qAbs(corner.blue() - ground.blue()) < 8,
             qPrintable(corner.name()));
    // No light seam from the centre up through the yellow of the lone slice.
    const QRectF plot = w->pie().chart()->plotArea();
    const qreal radius = qMin(plot.width(), plot.height()) / 4;
    const qreal dpr = chart->devicePixelRatio();
    for (qreal up = radius * 0.1; up < radius; up += 1) {
        for (int dx = -2; dx <= 2; ++dx) {
            const QColor c
                = image.pixelColor(QPointF((plot.center().x() + dx) * dpr, (plot.center().y() - up) * dpr).toPoint());
            QVERIFY2(c.blue() < 120, qPrintable(QStringLiteral("%1 at %2 above the centre").arg(c.name()).arg(up)));
        }
    }
}

void TestAnalysisWindows::saveCancelledOrWithoutChart()
{
    writeData(Records("02/03/11", 'A', 10));
    frmPieByMonthMode2 *w = openWindow();
    w->form()->cmdSaveAsImage->click();  // cancelled: no name
    QCOMPARE(m_ui->proposedPaths.size(), 1);
    QVERIFY(QDir(m_state->ImagesFolder).isEmpty());

    w->form()->MonthView1->setCurrentPage(2011, 4);
    QVERIFY(!w->pie().shown());
    m_ui->saveFiles << m_state->ImagesFolder + QStringLiteral("april.jpg");
    w->form()->cmdSaveAsImage->click();
    QCOMPARE(m_ui->proposedPaths.size(), 1);
    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY(!QFileInfo::exists(m_state->ImagesFolder + QStringLiteral("april.jpg")));
}

void TestAnalysisWindows::openImageFolder()
{
    writeData(Records("02/03/11", 'A', 10));
    frmPieByMonthMode2 *w = openWindow();
    w->form()->cmdOpenImageFolder->click();
    QVERIFY(QFileInfo(m_state->ImagesFolder).isDir());
    QCOMPARE(m_ui->opened, QList<QUrl>{QUrl::fromLocalFile(m_state->ImagesFolder)});

    clickDate(QDate(2011, 3, 2));
    frmPieByMonthMode2::dayWindow()->form()->cmdOpenImageFolder->click();
    QCOMPARE(m_ui->opened.size(), 2);
    QCOMPARE(m_ui->opened.last(), QUrl::fromLocalFile(m_state->ImagesFolder));
}

void TestAnalysisWindows::keyboard()
{
    writeData(Records("02/03/11", 'A', 10));
    frmPieByMonthMode2 *w = openWindow();
    clickDate(QDate(2011, 3, 2));
    frmPieByDayMode *day = frmPieByMonthMode2::dayWindow();
    QVERIFY(day);

    // Enter presses the focused button, as Space does.
    for (QPushButton *button : {w->form()->cmdOpenImageFolder, day->form()->cmdOpenImageFolder}) {
        QWidget *window = button->window();
        window->show();
        QApplication::setActiveWindow(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
    }
    QCOMPARE(m_ui->opened.size(), 2);

    // Tab goes round the day window's three buttons, with no stop between
    // them that shows nothing.
    const QList<QWidget *> buttons = {day->form()->Close, day->form()->cmdSaveAsImage, day->form()->cmdOpenImageFolder};
    QList<QWidget *> stops;
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        stops << QApplication::focusWidget();
    }
    QCOMPARE(stops, buttons + buttons);
}

void TestAnalysisWindows::longUserNameKeepsBothCaptionLines()
{
    const QString name = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
    const QString who = QStringLiteral("Locator LOC2000, Serial no. 1234. User: ");
    m_state->Identity.user = name;
    writeData(Records("02/03/11", 'T', 10) + Records("07/03/11", 'A', 5));
    frmPieByMonthMode2 *w = openWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    clickDate(QDate(2011, 3, 7));
    frmPieByDayMode *day = frmPieByMonthMode2::dayWindow();
    QVERIFY(QTest::qWaitForWindowExposed(day));

    // At the windows' own sizes, and at the narrowest they can be made, both
    // lines show, the second whole, the first with as much of the name as fits.
    const QList<QPair<const UsagePie *, QString>> pies
        = {{&w->pie(), QStringLiteral("Usage by Mode for 02/03/11 to 07/03/11")},
           {&day->pie(), QStringLiteral("Usage by Mode for 07/03/11")}};
    for (bool narrowest : {false, true}) {
        for (const auto &[pie, period] : pies) {
            QWidget *window = pie->chart()->scene()->views().first()->window();
            if (narrowest)
                window->resize(1, 1);
            QVERIFY(window->width() >= window->minimumSizeHint().width());
            const QStringList lines = pie->shownCaption();
            QCOMPARE(lines.size(), 2);
            QVERIFY2(lines[0].startsWith(who + name.left(3)), qPrintable(lines[0]));
            QVERIFY2(lines[0] == who + name || lines[0].endsWith(QChar(0x2026)), qPrintable(lines[0]));
            QCOMPARE(lines[1], period);
            // Inside the chart, so in a saved image too, and clear of the pie.
            const QRectF caption = pie->captionRect();
            QVERIFY(QRectF(QPointF(0, 0), pie->chart()->size()).contains(caption));
            QVERIFY(caption.bottom() < pie->chart()->plotArea().top());
        }
    }

    // A short name shows as it is.
    m_state->Identity.user = QStringLiteral("BOB");
    w->MonthView1_Click();
    QCOMPARE(w->pie().shownCaption().join(QStringLiteral("\r\n")), w->pie().caption());

    // Ever narrower: the name goes first, "User: " and the locator stay; a
    // line that still does not fit is cut at its end, but both are there.
    const QFont font = QApplication::font();
    const QFontMetricsF metrics(font);
    const QString caption = who + name + QStringLiteral("\r\nUsage by Mode for 02/03/11 to 28/03/11");
    for (qreal width = metrics.horizontalAdvance(who + name) + 1; width > 20; width -= 17) {
        const QStringList lines = UsagePie::fitCaption(caption, font, width);
        QCOMPARE(lines.size(), 2);
        for (const QString &line : lines) {
            QVERIFY2(!line.isEmpty() && metrics.horizontalAdvance(line) <= width,
                     qPrintable(QString::number(width) + ": " + line));
        }
        if (metrics.horizontalAdvance(who + QChar(0x2026)) <= width)
            QVERIFY2(lines[0].startsWith(who), qPrintable(lines[0]));
    }
}

QTEST_MAIN(TestAnalysisWindows)
#include "test_analysis_windows.moc"
