#pragma once

#include <QString>

class DataFileHandle;

// The per-user folders the program keeps its files under; empty if unknown.
// Windows: the Shell Folders values "Personal" and "AppData" of the current
// user. Elsewhere: the Documents folder and the per-user config folder.
QString GetDocumentsFolder();
QString GetAppDataFolder();

// The one data file slot of the process.
DataFileHandle &ProcessDataFile();
