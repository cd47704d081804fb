#pragma once

#include <QString>

// The per-user folders the program keeps its files under; empty if unknown.
// Windows: the Shell Folders values "Personal" and "AppData" of the current
// user. Elsewhere: the Documents folder and the per-user config folder.
// Core, so that programs without windows find the same files.
QString GetDocumentsFolder();
QString GetAppDataFolder();
