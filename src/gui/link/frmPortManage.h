#pragma once

#include "core/link/PortList.h"

#include <QList>
#include <QString>
#include <QWidget>

namespace Ui {
class frmPortManage;
}
class QShowEvent;
class QTreeWidgetItem;

// The port editor: lists the remembered locators and their COM ports, lets
// the user add, delete and correct entries, and saves them to the port list.
// It knows nothing of the main window; whoever shows the locator chooser
// listens to portListSaved.
class frmPortManage : public QWidget
{
    Q_OBJECT
public:
    explicit frmPortManage(const QString &portListPath, QWidget *parent = nullptr);
    ~frmPortManage() override;

    Ui::frmPortManage *form() const { return ui; }
    QString portListPath() const { return m_path; }

    // True while the list shown holds changes that are not in the file.
    bool PortListChanged = false;

    void Form_Load();
    void cmdAdd_Click();
    void cmdDelete_Click();
    // False when nothing was written (a row was refused or the file could not be written).
    bool cmdSave_Click();
    void cmdClose_Click();

    // The rows as shown, first to last.
    QList<PortEntry> rows() const;

    // Port text accepted for a row: a whole number 1 to 256 (the COM range).
    static bool isValidPort(const QString &text, int *number = nullptr);
    // A serial number that reads back as written: not empty, no comma, no line break.
    static bool isValidSerialNo(const QString &text);

signals:
    // The file now holds exactly these entries, in this order.
    void portListSaved(const QList<PortEntry> &entries);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void addRow(const QString &port, const QString &serialNo);
    void showDevice(QTreeWidgetItem *item);

    Ui::frmPortManage *ui;
    QString m_path;
};
