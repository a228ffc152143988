#ifndef UPDATE_CPE_INFO_H
#define UPDATE_CPE_INFO_H

// Room window/: the Vemu main window, its form and everything that touches it.

#include <QByteArray>

#include <QList>

class QLineEdit;
class Ui_Vemu;

// DSL family of the information tabs, kept in Vemu::m_dslFamily.
enum DslFamily : quint16 {
    DslFamilyUnknown = 0,
    DslFamilyAdsl = 1,
    DslFamilyVdsl = 2,
};

// The 35 value fields of the information tabs, page by page.
QList<QLineEdit *> info_tab_fields(Ui_Vemu *ui);

// Information tabs ("Live param 1", "Live param 2", "Configuration"): works
// out the DSL family from the DSL mode field and the STAT 1 answer, hides the
// fields that do not apply to it, and shows "Not available" outside showtime
// only. No value is decoded into the fields.
void update_cpe_info(const QByteArray &header, const QByteArray &payload, quint16 &dslFamily,
                     quint16 cpeState, Ui_Vemu *ui, bool korraPlatform, int usRatePath,
                     int dsRatePath);

#endif
