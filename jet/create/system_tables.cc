#include "jet/create/system_tables.h"

namespace jet::create {
namespace {

constexpr uint16_t kNameBytes = 510;  // 255 characters

}  // namespace

TableSchema msysObjectsSchema() {
  TableSchema t;
  t.name = "MSysObjects";
  t.system = true;
  t.columns = {
      columnSpec("Id", ColumnType::Long),
      columnSpec("ParentId", ColumnType::Long),
      columnSpec("Name", ColumnType::Text, kNameBytes),
      columnSpec("Type", ColumnType::Integer),
      columnSpec("DateCreate", ColumnType::DateTime),
      columnSpec("DateUpdate", ColumnType::DateTime),
      columnSpec("Owner", ColumnType::Binary, kNameBytes),
      columnSpec("Flags", ColumnType::Long),
      columnSpec("Database", ColumnType::Memo),
      columnSpec("Connect", ColumnType::Memo),
      columnSpec("ForeignName", ColumnType::Text, kNameBytes),
      columnSpec("RmtInfoShort", ColumnType::Binary, kNameBytes),
      columnSpec("RmtInfoLong", ColumnType::Ole),
      columnSpec("Lv", ColumnType::Ole),
      columnSpec("LvProp", ColumnType::Ole),
      columnSpec("LvModule", ColumnType::Ole),
      columnSpec("LvExtra", ColumnType::Ole),
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
      columnSpec("ObjectId", ColumnType::Long),
      columnSpec("SID", ColumnType::Binary, kNameBytes),
      columnSpec("ACM", ColumnType::Long),
      columnSpec("FInheritable", ColumnType::Boolean),
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
      columnSpec("ObjectId", ColumnType::Long),
      columnSpec("Attribute", ColumnType::Byte),
      columnSpec("Order", ColumnType::Binary, kNameBytes),
      columnSpec("Name1", ColumnType::Text, kNameBytes),
      columnSpec("Name2", ColumnType::Text, kNameBytes),
      columnSpec("Expression", ColumnType::Memo),
      columnSpec("Flag", ColumnType::Integer),
      columnSpec("LvExtra", ColumnType::Long),
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
      columnSpec("szRelationship", ColumnType::Text, kNameBytes),
      columnSpec("grbit", ColumnType::Long),
      columnSpec("ccolumn", ColumnType::Long),
      columnSpec("icolumn", ColumnType::Long),
      columnSpec("szObject", ColumnType::Text, kNameBytes),
      columnSpec("szColumn", ColumnType::Text, kNameBytes),
      columnSpec("szReferencedObject", ColumnType::Text, kNameBytes),
      columnSpec("szReferencedColumn", ColumnType::Text, kNameBytes),
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
