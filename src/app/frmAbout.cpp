#include "frmAbout.h"
#include "ui_frmAbout.h"

#include "AppState.h"
#include "Interaction.h"

#include <QPainter>

static QPixmap aboutPicture()
{
    QPixmap pix(64, 64);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0, 70, 140));
    p.setPen(Qt::NoPen);
    p.drawEllipse(2, 2, 60, 60);
    p.setPen(QPen(Qt::white, 5));
    p.drawLine(22, 16, 22, 48);
    p.drawLine(22, 32, 44, 16);
    p.drawLine(22, 32, 44, 48);
    return pix;
}

frmAbout::frmAbout(const AppState &state, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::frmAbout)
    , m_state(state)
{
    ui->setupUi(this);
    ui->Picture1->setPixmap(aboutPicture());
    connect(ui->Command1, &QPushButton::clicked, this, &frmAbout::Command1_Click);
    Form_Load();
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
