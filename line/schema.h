// The line database's tables, indexes and roles, brought to the newest version by numbered
// migrations.
#pragma once

#include "line/pg.h"

// The roles init makes (NOLOGIN groups): a login of the server is granted the first, one of
// the reports the second.
constexpr const char* kWriterRole = "zemtabulo_line_writer";
constexpr const char* kReaderRole = "zemtabulo_line_reader";

// The version the newest migration brings the schema to.
int newestSchemaVersion();

// Applies the migrations the database does not have yet, in order, each in its own
// transaction; what another init applies at the same time is waited for, not done twice.
// Returns how many were applied (0: the schema was already the newest). Throws PgError or
// PgUnavailable.
int migrateSchema(PgConnection& db);

// The version the database's schema is at; 0 for one never initialised.
int schemaVersion(PgConnection& db);
