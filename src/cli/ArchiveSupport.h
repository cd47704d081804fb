#pragma once

#include "cli/CliSupport.h"
#include "core/archive/Archive.h"

// What the subcommands that write to the archive share (archive import, sync).
namespace Cli {

// The archive a command works on (--database, else LOCATOR_ARCHIVE, else the
// default file), opened; false after saying why not.
bool OpenArchive(Context &ctx, const QString &option, Archive::Store *store, Archive::Store::OpenMode mode);

// Imports one data file and prints its line, `lead` + "<file>: N new,
// N duplicate, N skipped, N conflicts"; false after saying why it could not.
bool ImportDataFile(Context &ctx, Archive::Store &store, const QString &file, Archive::ImportCounts *counts,
                    const QString &lead = {});

}  // namespace Cli
