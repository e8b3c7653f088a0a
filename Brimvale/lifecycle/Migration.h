#pragma once

#include <string>

// Migration: once, before any model exists, the data and settings the app kept under its earlier
// name Quenwick become Brimvale's: $XDG_DATA_HOME/Quenwick is copied to $XDG_DATA_HOME/Brimvale
// (unless that exists already; a copy error is ignored) and the four switches and the item counts
// of $XDG_CONFIG_HOME/Quenwick/Quenwick.conf are written to Brimvale's settings.
namespace brimvale::Migration {

// True when something was migrated.
bool fromQuenwick(const std::string& dataHome, const std::string& configHome);

}  // namespace brimvale::Migration
