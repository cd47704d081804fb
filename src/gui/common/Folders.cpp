#include "gui/common/Folders.h"

#include "core/datafile/DataFileHandle.h"

DataFileHandle &ProcessDataFile()
{
    static DataFileHandle handle;
    return handle;
}
