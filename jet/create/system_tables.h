// The system tables every Jet 4 database has, as Jet creates them: their columns (numbered, typed and sized as in
// files Access writes) and indexes.
//   MSysObjects: the catalog, one row per table, container and other object; its definition is on page 2.
//   MSysACEs: access rights, rows of (object, security id, rights mask, inheritable).
//   MSysQueries: the saved queries (none here).
//   MSysRelationships: the relationships between tables (none here).
#pragma once

#include "jet/create/table_schema.h"

namespace jet::create {

TableSchema msysObjectsSchema();
TableSchema msysAcesSchema();
TableSchema msysQueriesSchema();
TableSchema msysRelationshipsSchema();

// Column positions of MSysObjects.
enum MsysObjectsColumn : uint16_t {
  kObjId = 0,
  kObjParentId,
  kObjName,
  kObjType,
  kObjDateCreate,
  kObjDateUpdate,
  kObjOwner,
  kObjFlags,
  kObjDatabase,
  kObjConnect,
  kObjForeignName,
  kObjRmtInfoShort,
  kObjRmtInfoLong,
  kObjLv,
  kObjLvProp,
  kObjLvModule,
  kObjLvExtra,
  kObjColumnCount
};

}  // namespace jet::create
