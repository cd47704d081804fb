#include "gui/main/frmAbout.h"
#include "ui_frmAbout.h"

#include "gui/common/AppState.h"
#include "gui/common/Interaction.h"
#include "gui/common/WindowHelpers.h"
#include "gui/main/Artwork.h"

frmAbout::frmAbout(const AppState &state, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::frmAbout)
    , m_state(state)
{
    ui->setupUi(this);
    ui->Picture1->setPixmap(Artwork::Logo(64, devicePixelRatioF()));
    setWindowIcon(Artwork::WindowIcon());
    connect(ui->Command1, &QPushButton::clicked, this, &frmAbout::Command1_Click);
    connect(ui->cmdClose, &QPushButton::clicked, this, &QWidget::close);
    CloseOnEscape(this);
    EnterPressesFocusedButton(this);
    ui->cmdClose->setFocus();
    Form_Load();
    ApplyLayoutMinimumSize(this);
}

frmAbout::~frmAbout()
{
    delete ui;
}

void frmAbout::Form_Load()
{
    ui->lblVersion->setText(m_state.Version);
    if (m_state.BluetoothFirmwareVersion.isEmpty())
        ui->lblBTFVersion->setText(QStringLiteral("Please connect to a locator and reopen this box"));
    else
        ui->lblBTFVersion->setText(QStringLiteral("Bluetooth firmware version: ") + m_state.BluetoothFirmwareVersion);
}

void frmAbout::Command1_Click()
{
    Interaction::current().openExternally(QUrl(QString::fromLatin1(SupportAddress)));
}
