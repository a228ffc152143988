// The polling cycle: Start and Stop, periods and the request scheduler.

#include "Vemu.h"
#include "ui_Vemu.h"

void Vemu::on_m_Bstart_clicked() {}
void Vemu::start_processing() {}
void Vemu::polling_timer() {}
void Vemu::send_next_request() {}
void Vemu::next_iteration() {}
void Vemu::stop_processing() {}
void Vemu::append_time_stamp_record() {}
