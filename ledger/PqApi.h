#pragma once
// The libpq functions the floor's ledger uses, from libpq.so.5 loaded at first use (see
// SharedLibrary.h).

#include <libpq-fe.h>

struct PqApi {
    decltype(&PQconnectdb) connectdb;
    decltype(&PQstatus) status;
    decltype(&PQerrorMessage) errorMessage;
    decltype(&PQfinish) finish;
    decltype(&PQsetNoticeProcessor) setNoticeProcessor;
    decltype(&PQexec) exec;
    decltype(&PQexecParams) execParams;
    decltype(&PQresultStatus) resultStatus;
    decltype(&PQresultErrorMessage) resultErrorMessage;
    decltype(&PQresultErrorField) resultErrorField;
    decltype(&PQntuples) ntuples;
    decltype(&PQnfields) nfields;
    decltype(&PQgetvalue) getvalue;
    decltype(&PQgetisnull) getisnull;
    decltype(&PQcmdTuples) cmdTuples;
    decltype(&PQclear) clear;
};

// Loads the library on the first call (thread-safe); throws LedgerError when it cannot.
const PqApi& Pq();
