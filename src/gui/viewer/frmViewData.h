#pragma once

#include <QWidget>

namespace Ui {
class frmViewData;
}
struct AppState;
class ViewerModel;

// "View data": every record of the current data file, one row each in its
// mode's colour, with the locator identity from the header line and the
// usage time per mode. A click on a column header sorts by that column.
//
// A top-level window that deletes itself when closed. It reads the file once,
// as it is made (so show it afterwards), and keeps those rows while it is
// open, whatever becomes of the current data file.
class frmViewData : public QWidget
{
    Q_OBJECT
public:
    explicit frmViewData(AppState &state, QWidget *parent = nullptr);
    ~frmViewData() override;

    Ui::frmViewData *form() const { return ui; }
    ViewerModel &model() const { return *m_model; }

    void Form_Load();
    void lvwList_ColumnClick(int column);

private:
    void styleWindow();
    void fitDatesInColumn();
    void showTotals();

    Ui::frmViewData *ui;
    AppState &m_state;
    ViewerModel *m_model;
};
