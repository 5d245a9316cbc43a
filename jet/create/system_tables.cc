#include "jet/create/system_tables.h"

namespace jet::create {
namespace {

constexpr uint16_t kNameBytes = 510;  // 255 characters

ColumnSpec column(const char* name, ColumnType type, uint16_t length = 0) {
  ColumnSpec c;
  c.name = name;
  c.type = type;
  c.length = length;
  return c;
}

}  // namespace

TableSchema msysObjectsSchema() {
  TableSchema t;
  t.name = "MSysObjects";
  t.system = true;
  t.columns = {
      column("Id", ColumnType::Long),
      column("ParentId", ColumnType::Long),
      column("Name", ColumnType::Text, kNameBytes),
      column("Type", ColumnType::Integer),
      column("DateCreate", ColumnType::DateTime),
      column("DateUpdate", ColumnType::DateTime),
      column("Owner", ColumnType::Binary, kNameBytes),
      column("Flags", ColumnType::Long),
      column("Database", ColumnType::Memo),
      column("Connect", ColumnType::Memo),
      column("ForeignName", ColumnType::Text, kNameBytes),
      column("RmtInfoShort", ColumnType::Binary, kNameBytes),
      column("RmtInfoLong", ColumnType::Ole),
      column("Lv", ColumnType::Ole),
      column("LvProp", ColumnType::Ole),
      column("LvModule", ColumnType::Ole),
      column("LvExtra", ColumnType::Ole),
  };
  IndexSpec id{"Id", {kObjId}};
  id.primaryKey = true;
  IndexSpec parentIdName{"ParentIdName", {kObjParentId, kObjName}};
  parentIdName.unique = true;
  t.indexes = {id, parentIdName};
  return t;
}

TableSchema msysAcesSchema() {
  TableSchema t;
  t.name = "MSysACEs";
  t.system = true;
  t.columns = {
      column("ObjectId", ColumnType::Long),
      column("SID", ColumnType::Binary, kNameBytes),
      column("ACM", ColumnType::Long),
      column("FInheritable", ColumnType::Boolean),
  };
  IndexSpec objectId{"ObjectId", {0}};
  objectId.required = true;
  t.indexes = {objectId};
  return t;
}

TableSchema msysQueriesSchema() {
  TableSchema t;
  t.name = "MSysQueries";
  t.system = true;
  t.columns = {
      column("ObjectId", ColumnType::Long),
      column("Attribute", ColumnType::Byte),
      column("Order", ColumnType::Binary, kNameBytes),
      column("Name1", ColumnType::Text, kNameBytes),
      column("Name2", ColumnType::Text, kNameBytes),
      column("Expression", ColumnType::Memo),
      column("Flag", ColumnType::Integer),
      column("LvExtra", ColumnType::Long),
  };
  IndexSpec objectIdAttribute{"ObjectIdAttribute", {0, 1}};
  objectIdAttribute.unique = true;
  t.indexes = {objectIdAttribute};
  return t;
}

TableSchema msysRelationshipsSchema() {
  TableSchema t;
  t.name = "MSysRelationships";
  t.system = true;
  t.columns = {
      column("szRelationship", ColumnType::Text, kNameBytes),
      column("grbit", ColumnType::Long),
      column("ccolumn", ColumnType::Long),
      column("icolumn", ColumnType::Long),
      column("szObject", ColumnType::Text, kNameBytes),
      column("szColumn", ColumnType::Text, kNameBytes),
      column("szReferencedObject", ColumnType::Text, kNameBytes),
      column("szReferencedColumn", ColumnType::Text, kNameBytes),
  };
  IndexSpec byObject{"szObject", {4}};
  byObject.ignoreNulls = true;
  IndexSpec byReferenced{"szReferencedObject", {6}};
  byReferenced.ignoreNulls = true;
  IndexSpec byName{"szRelationship", {0}};
  byName.ignoreNulls = true;
  t.indexes = {byObject, byReferenced, byName};
  return t;
}

}  // namespace jet::create
