// The standard effects parameter dialog. The dialog window itself is not built yet; until it
// is, every call answers featureUnsupported honestly and creates nothing, so the application
// sees "no dialog" instead of a dialog that silently never confirms.
#include <QuickTimeEffects.h>

OSErr QTCreateStandardParameterDialog(QTAtomContainer /*effectList*/,
                                      QTAtomContainer /*parameters*/, long /*dialogOptions*/,
                                      QTParameterDialog* createdDialog) {
  // Deliberately creates nothing (dialog not available yet).
  if (createdDialog) *createdDialog = 0;
  return featureUnsupported;
}

OSErr QTIsStandardParameterDialogEvent(EventRecord* /*pEvent*/,
                                       QTParameterDialog /*createdDialog*/) {
  // featureUnsupported is also the documented "not the dialog's event" answer.
  return featureUnsupported;
}

OSErr QTDismissStandardParameterDialog(QTParameterDialog /*createdDialog*/) {
  // Deliberately does nothing: no dialog can exist yet.
  return featureUnsupported;
}

OSErr QTStandardParameterDialogDoAction(QTParameterDialog /*createdDialog*/, long /*action*/,
                                        void* /*params*/) {
  // Deliberately does nothing: no dialog can exist yet.
  return featureUnsupported;
}
