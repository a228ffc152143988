// Answer reception: framing, matching against the request, retries and the
// records of completed reads.

#include "Vemu.h"
#include "ui_Vemu.h"

void Vemu::receive() {}
void Vemu::process_korra_answer() {}
void Vemu::process_legacy_answer() {}
