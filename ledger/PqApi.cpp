#include "ledger/PqApi.h"

#include "ledger/SharedLibrary.h"

namespace {
PqApi Load() {
    const SharedLibrary lib("libpq.so.5");
    PqApi api{};
    lib.Bind("PQconnectdb", api.connectdb);
    lib.Bind("PQstatus", api.status);
    lib.Bind("PQerrorMessage", api.errorMessage);
    lib.Bind("PQfinish", api.finish);
    lib.Bind("PQsetNoticeProcessor", api.setNoticeProcessor);
    lib.Bind("PQexec", api.exec);
    lib.Bind("PQexecParams", api.execParams);
    lib.Bind("PQresultStatus", api.resultStatus);
    lib.Bind("PQresultErrorMessage", api.resultErrorMessage);
    lib.Bind("PQresultErrorField", api.resultErrorField);
    lib.Bind("PQntuples", api.ntuples);
    lib.Bind("PQnfields", api.nfields);
    lib.Bind("PQgetvalue", api.getvalue);
    lib.Bind("PQgetisnull", api.getisnull);
    lib.Bind("PQcmdTuples", api.cmdTuples);
    lib.Bind("PQclear", api.clear);
    return api;
}
}  // namespace

const PqApi& Pq() {
    static const PqApi api = Load();  // a failed load is tried again at the next call
    return api;
}
