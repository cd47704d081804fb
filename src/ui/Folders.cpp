#include "Folders.h"

#include "DataFileHandle.h"

DataFileHandle &ProcessDataFile()
{
    static DataFileHandle handle;
    return handle;
}
