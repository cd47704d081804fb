#pragma once

#include <QString>

// Who a locator says it is, from its identify reply or a data file's header line.
struct LocatorIdentity
{
    QString model;
    QString serialNo;
    QString user;

    bool operator==(const LocatorIdentity &) const = default;
};
