// The engine's dataset API in one include: sessions, databases, queries, tables, fields, the host hooks
// and the error types. Host programs (the application, kova-sql) include only this.
#pragma once

#include "engine/api/ABSApiErrors.h"
#include "engine/api/ABSComponent.h"
#include "engine/api/ABSDataSet.h"
#include "engine/api/ABSDatabase.h"
#include "engine/api/ABSField.h"
#include "engine/api/ABSHostHooks.h"
#include "engine/api/ABSQuery.h"
#include "engine/api/ABSSession.h"
#include "engine/api/ABSTable.h"
#include "engine/core/ABSExcept.h"
