#pragma once

#include "core/datafile/UserFolders.h"

#include <QString>

class DataFileHandle;

// The one data file slot of the process.
DataFileHandle &ProcessDataFile();
