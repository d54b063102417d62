// The input line's entry: a GtkEntry that shows the formatting codes typed
// into it as they will look once sent (the codes themselves take no room),
// and underlines misspelt words with Enchant, offering suggestions in its
// context menu. Without Enchant or a dictionary it only formats.
#pragma once

#include <gtk/gtk.h>

G_BEGIN_DECLS

#define SEXY_TYPE_SPELL_ENTRY (sexy_spell_entry_get_type())
G_DECLARE_DERIVABLE_TYPE(SexySpellEntry, sexy_spell_entry, SEXY, SPELL_ENTRY, GtkEntry)

struct _SexySpellEntryClass {
    GtkEntryClass parent_class;
    // "word_check": true when the word is misspelt.
    gboolean (*word_check)(SexySpellEntry *entry, const gchar *word);
};

#define SEXY_SPELL_ERROR (sexy_spell_error_quark())
enum SexySpellError { SEXY_SPELL_ERROR_BACKEND };
GQuark sexy_spell_error_quark(void);

GtkWidget *sexy_spell_entry_new(void);

// Both features are on for a new entry; switching redraws.
void sexy_spell_entry_set_checked(SexySpellEntry *entry, gboolean checked);
gboolean sexy_spell_entry_is_checked(SexySpellEntry *entry);
void sexy_spell_entry_set_parse_attributes(SexySpellEntry *entry, gboolean parse);

// The languages of text_spell_langs that have a dictionary, or "en".
gboolean sexy_spell_entry_activate_default_languages(SexySpellEntry *entry);
// Language codes with a dictionary (owned list of owned strings).
GSList *sexy_spell_entry_get_languages(const SexySpellEntry *entry);
gboolean sexy_spell_entry_activate_language(SexySpellEntry *entry, const gchar *lang, GError **error);
// Null: every language.
void sexy_spell_entry_deactivate_language(SexySpellEntry *entry, const gchar *lang);
// Replaces the active set; false (and the first error) when one failed.
gboolean sexy_spell_entry_set_active_languages(SexySpellEntry *entry, GSList *langs, GError **error);
// Owned list of owned strings.
GSList *sexy_spell_entry_get_active_languages(SexySpellEntry *entry);
gboolean sexy_spell_entry_language_is_active(SexySpellEntry *entry, const gchar *lang);
// The name shown for a language: the code itself (owned).
gchar *sexy_spell_entry_get_language_name(SexySpellEntry *entry, const gchar *lang);

// Takes gui_input_spell, gui_input_attr and text_spell_langs from the settings.
void sexy_spell_entry_apply_prefs(SexySpellEntry *entry);

G_END_DECLS
