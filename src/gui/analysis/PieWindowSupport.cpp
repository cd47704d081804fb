#include "gui/analysis/PieWindowSupport.h"

#include "core/usage/UsageTexts.h"
#include "gui/analysis/UsagePie.h"
#include "gui/common/AppState.h"
#include "gui/common/Interaction.h"
#include "gui/common/WindowHelpers.h"

#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QPixmap>
#include <QUrl>
#include <QtCharts/QChartView>

namespace {
void colourText(QWidget *w, const QColor &colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    w->setPalette(p);
}
}  // namespace

PieWindowSupport::PieWindowSupport(QWidget *window, const Controls &controls, AppState &state, AnalysisHooks hooks)
    : m_window(window)
    , m_controls(controls)
    , m_state(state)
    , m_hooks(std::move(hooks))
    , m_pie(std::make_unique<UsagePie>(controls.chart))
{
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->layout()->setSizeConstraint(QLayout::SetMinimumSize);
    CloseOnEscape(window);
    EnterPressesFocusedButton(window);

    QPalette p = window->palette();
    p.setColor(QPalette::Window, QColor(64, 64, 64));
    window->setPalette(p);
    window->setAutoFillBackground(true);
    colourText(controls.pieStatus, Qt::white);
    colourText(controls.usageCaption, Qt::white);
    colourText(controls.usageTime, QColor(192, 192, 192));
}

PieWindowSupport::~PieWindowSupport() = default;

void PieWindowSupport::draw(const Usage::PeriodRecords &period, const QString &noDataText,
                            const std::function<QString()> &caption)
{
    if (period.n == 0) {
        m_controls.pieStatus->setText(noDataText);
        m_pie->setShown(false);
        return;
    }
    m_pie->setShown(true);
    m_controls.pieStatus->clear();
    const Usage::ModeCounts counts = Usage::CountModes(period);
    m_controls.usageTime->setText(Usage::PieDurationText(counts.total));
    m_pie->draw(caption(), counts);
}

void PieWindowSupport::showFailure(const Usage::ReadOutcome &outcome)
{
    const QString text = Usage::ReadFailureText(outcome, m_state.currentDataFilePath());
    m_controls.pieStatus->setText(text);
    m_controls.usageTime->clear();
    m_pie->setShown(false);
    Interaction::current().message(m_window, text);
}

void PieWindowSupport::saveImage(const QString &noChartText, const std::function<QString()> &imageName,
                                 const QString &dialogTitle)
{
    if (!m_pie->shown()) {
        // A hidden chart still holds an earlier period's drawing.
        Interaction::current().message(m_window, noChartText);
        return;
    }
    if (m_hooks.refreshIdentity)
        m_hooks.refreshIdentity();
    const QString folder = m_state.ImagesFolder;
    QDir().mkpath(folder);
    const QString file = Interaction::current().saveFileName(m_window, dialogTitle, folder + imageName(),
                                                             QStringLiteral("jpg (*.jpg)"));
    if (file.isEmpty())
        return;
    // The format is named, so a name typed without ".jpg" still gets a JPEG.
    if (!m_controls.chart->grab().save(file, "JPG")) {
        Interaction::current().message(
            m_window, QStringLiteral("The image could not be saved:\n%1").arg(QDir::toNativeSeparators(file)));
    }
}

void PieWindowSupport::openImagesFolder()
{
    const QString folder = m_state.ImagesFolder;
    QDir().mkpath(folder);
    if (!Interaction::current().openExternally(QUrl::fromLocalFile(folder))) {
        Interaction::current().message(
            m_window,
            QStringLiteral("The images folder could not be opened:\n%1").arg(QDir::toNativeSeparators(folder)));
    }
}
