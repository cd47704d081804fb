#pragma once

#include <QWidget>

struct AppState;
namespace Ui {
class frmAbout;
}

// Program and Bluetooth firmware versions, and the way to the support page.
// The labels are filled once, when the window is created.
class frmAbout : public QWidget
{
    Q_OBJECT
public:
    explicit frmAbout(const AppState &state, QWidget *parent = nullptr);
    ~frmAbout() override;

    Ui::frmAbout *form() const { return ui; }
    void Form_Load();
    void Command1_Click();

private:
    Ui::frmAbout *ui;
    const AppState &m_state;
};
