#ifndef SENTREL_TELEMETRY_SERVER_H
#define SENTREL_TELEMETRY_SERVER_H
/* The telemetry COM server's class and the interface records are sent through. */
#include <objbase.h>
#include <oleauto.h>

/* {E782BE15-9936-4A7F-8DF9-9AB95D229DF1} */
static const CLSID CLSID_TelemetryServer = {
    0xE782BE15, 0x9936, 0x4A7F, {0x8D, 0xF9, 0x9A, 0xB9, 0x5D, 0x22, 0x9D, 0xF1}};
/* {AC29BAF7-7EFF-4A82-8B29-76B1A3E27A6D} */
static const IID IID_ITelemetryRecordSink = {
    0xAC29BAF7, 0x7EFF, 0x4A82, {0x8B, 0x29, 0x76, 0xB1, 0xA3, 0xE2, 0x7A, 0x6D}};

/* Class context the transport creates the server with: in-process server and
   handler, local server, remote server. */
#define TELEMETRY_SERVER_CONTEXT 0x17u

#ifdef __cplusplus
/* The interface's one own method takes the record's JSON text between two
   strings whose meaning is the server's. */
struct ITelemetryRecordSink : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SendRecord(BSTR before, BSTR record, BSTR after) = 0;
};
#endif

#endif
