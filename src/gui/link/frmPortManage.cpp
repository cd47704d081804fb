#include "gui/link/frmPortManage.h"
#include "ui_frmPortManage.h"

#include "core/link/PortNaming.h"
#include "gui/common/Interaction.h"
#include "gui/common/WindowHelpers.h"

#include <QDir>
#include <QShowEvent>
#include <QStyledItemDelegate>

namespace {

constexpr int kColPort = 0;
constexpr int kColSerialNo = 1;
constexpr int kColDevice = 2;  // shown only: where the port number leads on this computer
constexpr int kMaxComPort = 256;  // the COM numbers Windows hands out

// Only the Port cell is edited in place; the serial number identifies the
// locator and is changed by deleting and adding.
class PortCellOnlyDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (index.column() != kColPort)
            return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
};

bool hasLineBreakOrComma(const QString &text)
{
    return text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

}  // namespace

frmPortManage::frmPortManage(const QString &portListPath, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::frmPortManage)
    , m_path(portListPath)
{
    ui->setupUi(this);
    EnterPressesFocusedButton(this);
    ui->lvPorts->setItemDelegate(new PortCellOnlyDelegate(ui->lvPorts));

    connect(ui->cmdAdd, &QPushButton::clicked, this, &frmPortManage::cmdAdd_Click);
    connect(ui->cmdDelete, &QPushButton::clicked, this, &frmPortManage::cmdDelete_Click);
    connect(ui->cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    connect(ui->cmdClose, &QPushButton::clicked, this, &frmPortManage::cmdClose_Click);
    // A corrected port is a change like any other; it must not be lost unasked on Close.
    connect(ui->lvPorts, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item, int column) {
        if (column != kColPort)
            return;
        PortListChanged = true;
        showDevice(item);
    });
    ApplyLayoutMinimumSize(this);
}

frmPortManage::~frmPortManage()
{
    delete ui;
}

bool frmPortManage::isValidPort(const QString &text, int *number)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 3)
        return false;
    for (QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int n = t.toInt();
    if (n < 1 || n > kMaxComPort)
        return false;
    if (number)
        *number = n;
    return true;
}

bool frmPortManage::isValidSerialNo(const QString &text)
{
    return PortList::IsValidSerialNo(text);
}

void frmPortManage::showEvent(QShowEvent *event)
{
    // Every opening shows the file as it is now; rows not saved last time are gone.
    if (!event->spontaneous())
        Form_Load();
    QWidget::showEvent(event);
}

void frmPortManage::showDevice(QTreeWidgetItem *item)
{
    int number = 0;
    const QString device = isValidPort(item->text(kColPort), &number) ? PortNaming::DeviceShownFor(number) : QString();
    const QSignalBlocker quiet(ui->lvPorts);  // not an edit of the list
    item->setText(kColDevice, QDir::toNativeSeparators(device));
}

void frmPortManage::addRow(const QString &port, const QString &serialNo)
{
    auto *item = new QTreeWidgetItem({port, serialNo});
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    ui->lvPorts->addTopLevelItem(item);
    showDevice(item);
}

void frmPortManage::Form_Load()
{
    PortListChanged = false;
    const QSignalBlocker quiet(ui->lvPorts);  // loading is not an edit
    ui->lvPorts->clear();
    ui->lvPorts->setHeaderLabels({QStringLiteral("Port"), QStringLiteral("Serial No"), QStringLiteral("Device")});
    for (const PortEntry &e : PortList::LoadPortList(m_path))
        addRow(e.port, e.serialNo);
    ui->lvPorts->resizeColumnToContents(kColPort);
    PortListChanged = false;
}

void frmPortManage::cmdAdd_Click()
{
    const QString port = ui->txtPort->text().trimmed();
    const QString serialNo = ui->txtSerialNo->text().trimmed();
    if (port.isEmpty() && serialNo.isEmpty())
        return;  // nothing typed: nothing to add
    int number = 0;
    if (!isValidPort(port, &number)) {
        Interaction::current().message(
            this, QStringLiteral("The port must be a whole number from 1 to %1.").arg(kMaxComPort));
        ui->txtPort->setFocus();
        return;
    }
    if (!isValidSerialNo(serialNo)) {
        Interaction::current().message(this,
                                       QStringLiteral("Please enter the locator's serial number (without commas)."));
        ui->txtSerialNo->setFocus();
        return;
    }
    {
        const QSignalBlocker quiet(ui->lvPorts);
        addRow(QString::number(number), serialNo);
    }
    ui->txtSerialNo->clear();
    ui->txtPort->clear();
    PortListChanged = true;
}

void frmPortManage::cmdDelete_Click()
{
    QTreeWidgetItem *item = ui->lvPorts->currentItem();
    if (!item || !item->isSelected())
        return;  // nothing chosen: deleting "whatever is current" would surprise
    delete item;
    PortListChanged = true;
}

QList<PortEntry> frmPortManage::rows() const
{
    QList<PortEntry> out;
    for (int i = 0; i < ui->lvPorts->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = ui->lvPorts->topLevelItem(i);
        out.append({item->text(kColSerialNo), item->text(kColPort)});
    }
    return out;
}

bool frmPortManage::cmdSave_Click()
{
    // Check every row before touching the file: a port the readers cannot
    // take as a number would connect to nothing later.
    QList<PortEntry> entries = rows();
    for (int i = 0; i < entries.size(); ++i) {
        int number = 0;
        if (!isValidPort(entries[i].port, &number)) {
            ui->lvPorts->setCurrentItem(ui->lvPorts->topLevelItem(i));
            Interaction::current().message(
                this,
                QStringLiteral("The port of %1 (row %2) must be a whole number from 1 to %3. "
                               "The ports list has not been saved.")
                    .arg(entries[i].serialNo.isEmpty() ? QStringLiteral("the locator") : entries[i].serialNo)
                    .arg(i + 1)
                    .arg(kMaxComPort));
            return false;
        }
        if (hasLineBreakOrComma(entries[i].serialNo)) {
            ui->lvPorts->setCurrentItem(ui->lvPorts->topLevelItem(i));
            Interaction::current().message(this,
                                           QStringLiteral("The serial number in row %1 must not hold a comma. "
                                                          "The ports list has not been saved.")
                                               .arg(i + 1));
            return false;
        }
        entries[i].port = QString::number(number);
    }
    if (!PortList::SavePortList(m_path, entries)) {
        Interaction::current().message(
            this, QStringLiteral("The ports list could not be saved:\n%1").arg(QDir::toNativeSeparators(m_path)));
        return false;
    }
    {
        const QSignalBlocker quiet(ui->lvPorts);
        for (int i = 0; i < entries.size(); ++i) {
            ui->lvPorts->topLevelItem(i)->setText(kColPort, entries[i].port);
            showDevice(ui->lvPorts->topLevelItem(i));
        }
    }
    PortListChanged = false;
    emit portListSaved(entries);
    return true;
}

void frmPortManage::cmdClose_Click()
{
    if (PortListChanged
        && Interaction::current().question(this, QStringLiteral("Save changes you have made to the ports list?"))) {
        // A refused or failed save keeps the window open so the changes are not lost unseen.
        if (!cmdSave_Click())
            return;
    }
    close();
}
