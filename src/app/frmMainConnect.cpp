// Connecting to a locator: known-port test, port scan, disconnect.
#include "frmMain.h"
#include "ui_frmMain.h"

void frmMain::setupConnecting()
{
}

void frmMain::SearchAndConnect() {}
void frmMain::ScanPorts() {}
void frmMain::ConnectToKnownPort(int) {}
void frmMain::cboLocators_Click() {}
void frmMain::cmdrescan_Click() {}
void frmMain::cmdDisconnect_Click() {}
void frmMain::cmdManagePorts_Click() {}
