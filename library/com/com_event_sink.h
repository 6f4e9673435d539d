// The COM event sink: the dispatch object a host connects to a control's event
// connection point. Each event runs the control's script procedure with five values;
// stock mouse and key events arrive in window-message form.
#pragma once

#include <cstdint>

#include "platform/ole/ole_types.h"

struct OleContainerSite;

struct ComEventSink : IDispatch {
  // The reference count starts at 0: the connection point's Advise takes the one that
  // keeps the sink alive.
  ComEventSink(OleContainerSite* site, const IID& event_interface);
  ComEventSink(const ComEventSink&) = delete;
  ComEventSink& operator=(const ComEventSink&) = delete;

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  // Runs the site's event procedure for the event; its result is the answer (0: S_OK).
  // Property gets and puts are refused with E_NOTIMPL.
  HRESULT Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argument_error) override;

  uint32_t reference_count = 0;
  uint32_t lock_count = 0;
  OleContainerSite* site;
  IID event_interface;
  uint8_t answers_event_interface = 1;

 private:
  virtual ~ComEventSink() = default;
};

// Whether an event procedure is running: the built-in call that made the control fire
// may still be using the control's wrappers.
bool event_procedure_running();

// The five values an event hands the script procedure: the control window, the event
// (a window message for the stock mouse and key events, else the dispatch id), two
// values that depend on it, and the site. A stock event whose arguments are missing or
// of the wrong kind is passed on as a plain event.
// Window and site go as the unsigned numbers the ActiveX built-ins give for them.
struct EventCall {
  uint32_t window;
  int32_t event;
  double first;
  double second;
  uint32_t site;
};
// Fills call from the event. For a plain event with arguments, *arguments receives a
// new crt::malloc block of params->cArgs doubles (the event's last argument first) for
// the caller to free, first stays 0 and second is the count; the procedure receives the
// block's address as first.
void translate_event(const OleContainerSite* site, DISPID member, const DISPPARAMS* params, EventCall* call,
                     double** arguments);
