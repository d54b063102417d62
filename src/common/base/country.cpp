// The country table: ISO 3166 two-letter codes with the country-code
// top-level domains that differ from them (AC, EU, SU, UK), plus the generic
// top-level domains, and its two lookups (country, country_search; declared in
// base/util.h). Names are English msgids, translated where shown.
#include "base/lumenwick.h"
#include "base/util.h"

#include <glib.h>

#include <cstddef>
#include <cstring>

namespace
{

struct country_row {
    const char *code;
    const char *name;
};

// Sorted by code; codes are upper case, so byte order is the
// case-insensitive order the lookup relies on.
constexpr country_row countries[] = {
    {"AC", N_("Ascension Island")},
    {"AD", N_("Andorra")},
    {"AE", N_("United Arab Emirates")},
    {"AERO", N_("Aviation-Related Fields")},
    {"AF", N_("Afghanistan")},
    {"AG", N_("Antigua and Barbuda")},
    {"AI", N_("Anguilla")},
    {"AL", N_("Albania")},
    {"AM", N_("Armenia")},
    {"AO", N_("Angola")},
    {"AQ", N_("Antarctica")},
    {"AR", N_("Argentina")},
    {"ARPA", N_("Reverse DNS")},
    {"AS", N_("American Samoa")},
    {"ASIA", N_("Asia-Pacific Region")},
    {"AT", N_("Austria")},
    {"AU", N_("Australia")},
    {"AW", N_("Aruba")},
    {"AX", N_("Aland Islands")},
    {"AZ", N_("Azerbaijan")},
    {"BA", N_("Bosnia and Herzegovina")},
    {"BB", N_("Barbados")},
    {"BD", N_("Bangladesh")},
    {"BE", N_("Belgium")},
    {"BF", N_("Burkina Faso")},
    {"BG", N_("Bulgaria")},
    {"BH", N_("Bahrain")},
    {"BI", N_("Burundi")},
    {"BIZ", N_("Businesses")},
    {"BJ", N_("Benin")},
    {"BL", N_("Saint Barthelemy")},
    {"BM", N_("Bermuda")},
    {"BN", N_("Brunei Darussalam")},
    {"BO", N_("Bolivia")},
    {"BQ", N_("Bonaire, Sint Eustatius and Saba")},
    {"BR", N_("Brazil")},
    {"BS", N_("Bahamas")},
    {"BT", N_("Bhutan")},
    {"BV", N_("Bouvet Island")},
    {"BW", N_("Botswana")},
    {"BY", N_("Belarus")},
    {"BZ", N_("Belize")},
    {"CA", N_("Canada")},
    {"CAT", N_("Catalan")},
    {"CC", N_("Cocos (Keeling) Islands")},
    {"CD", N_("Congo, Democratic Republic of the")},
    {"CF", N_("Central African Republic")},
    {"CG", N_("Congo")},
    {"CH", N_("Switzerland")},
    {"CI", N_("Cote d'Ivoire")},
    {"CK", N_("Cook Islands")},
    {"CL", N_("Chile")},
    {"CM", N_("Cameroon")},
    {"CN", N_("China")},
    {"CO", N_("Colombia")},
    {"COM", N_("Internic Commercial")},
    {"COOP", N_("Cooperatives")},
    {"CR", N_("Costa Rica")},
    {"CU", N_("Cuba")},
    {"CV", N_("Cape Verde")},
    {"CW", N_("Curacao")},
    {"CX", N_("Christmas Island")},
    {"CY", N_("Cyprus")},
    {"CZ", N_("Czech Republic")},
    {"DE", N_("Germany")},
    {"DJ", N_("Djibouti")},
    {"DK", N_("Denmark")},
    {"DM", N_("Dominica")},
    {"DO", N_("Dominican Republic")},
    {"DZ", N_("Algeria")},
    {"EC", N_("Ecuador")},
    {"EDU", N_("Educational Institution")},
    {"EE", N_("Estonia")},
    {"EG", N_("Egypt")},
    {"EH", N_("Western Sahara")},
    {"ER", N_("Eritrea")},
    {"ES", N_("Spain")},
    {"ET", N_("Ethiopia")},
    {"EU", N_("European Union")},
    {"FI", N_("Finland")},
    {"FJ", N_("Fiji")},
    {"FK", N_("Falkland Islands")},
    {"FM", N_("Micronesia")},
    {"FO", N_("Faroe Islands")},
    {"FR", N_("France")},
    {"GA", N_("Gabon")},
    {"GB", N_("Great Britain")},
    {"GD", N_("Grenada")},
    {"GE", N_("Georgia")},
    {"GF", N_("French Guiana")},
    {"GG", N_("Guernsey")},
    {"GH", N_("Ghana")},
    {"GI", N_("Gibraltar")},
    {"GL", N_("Greenland")},
    {"GM", N_("Gambia")},
    {"GN", N_("Guinea")},
    {"GOV", N_("Government")},
    {"GP", N_("Guadeloupe")},
    {"GQ", N_("Equatorial Guinea")},
    {"GR", N_("Greece")},
    {"GS", N_("South Georgia and the South Sandwich Islands")},
    {"GT", N_("Guatemala")},
    {"GU", N_("Guam")},
    {"GW", N_("Guinea-Bissau")},
    {"GY", N_("Guyana")},
    {"HK", N_("Hong Kong")},
    {"HM", N_("Heard and McDonald Islands")},
    {"HN", N_("Honduras")},
    {"HR", N_("Croatia")},
    {"HT", N_("Haiti")},
    {"HU", N_("Hungary")},
    {"ID", N_("Indonesia")},
    {"IE", N_("Ireland")},
    {"IL", N_("Israel")},
    {"IM", N_("Isle of Man")},
    {"IN", N_("India")},
    {"INFO", N_("Informational")},
    {"INT", N_("International")},
    {"IO", N_("British Indian Ocean Territory")},
    {"IQ", N_("Iraq")},
    {"IR", N_("Iran")},
    {"IS", N_("Iceland")},
    {"IT", N_("Italy")},
    {"JE", N_("Jersey")},
    {"JM", N_("Jamaica")},
    {"JO", N_("Jordan")},
    {"JOBS", N_("Company Jobs")},
    {"JP", N_("Japan")},
    {"KE", N_("Kenya")},
    {"KG", N_("Kyrgyzstan")},
    {"KH", N_("Cambodia")},
    {"KI", N_("Kiribati")},
    {"KM", N_("Comoros")},
    {"KN", N_("Saint Kitts and Nevis")},
    {"KP", N_("North Korea")},
    {"KR", N_("South Korea")},
    {"KW", N_("Kuwait")},
    {"KY", N_("Cayman Islands")},
    {"KZ", N_("Kazakhstan")},
    {"LA", N_("Laos")},
    {"LB", N_("Lebanon")},
    {"LC", N_("Saint Lucia")},
    {"LI", N_("Liechtenstein")},
    {"LK", N_("Sri Lanka")},
    {"LR", N_("Liberia")},
    {"LS", N_("Lesotho")},
    {"LT", N_("Lithuania")},
    {"LU", N_("Luxembourg")},
    {"LV", N_("Latvia")},
    {"LY", N_("Libya")},
    {"MA", N_("Morocco")},
    {"MC", N_("Monaco")},
    {"MD", N_("Moldova")},
    {"ME", N_("Montenegro")},
    {"MF", N_("Saint Martin (French part)")},
    {"MG", N_("Madagascar")},
    {"MH", N_("Marshall Islands")},
    {"MIL", N_("Military")},
    {"MK", N_("North Macedonia")},
    {"ML", N_("Mali")},
    {"MM", N_("Myanmar")},
    {"MN", N_("Mongolia")},
    {"MO", N_("Macau")},
    {"MOBI", N_("Mobile Devices")},
    {"MP", N_("Northern Mariana Islands")},
    {"MQ", N_("Martinique")},
    {"MR", N_("Mauritania")},
    {"MS", N_("Montserrat")},
    {"MT", N_("Malta")},
    {"MU", N_("Mauritius")},
    {"MUSEUM", N_("Museums")},
    {"MV", N_("Maldives")},
    {"MW", N_("Malawi")},
    {"MX", N_("Mexico")},
    {"MY", N_("Malaysia")},
    {"MZ", N_("Mozambique")},
    {"NA", N_("Namibia")},
    {"NAME", N_("Individual's Names")},
    {"NC", N_("New Caledonia")},
    {"NE", N_("Niger")},
    {"NET", N_("Internic Network")},
    {"NF", N_("Norfolk Island")},
    {"NG", N_("Nigeria")},
    {"NI", N_("Nicaragua")},
    {"NL", N_("Netherlands")},
    {"NO", N_("Norway")},
    {"NP", N_("Nepal")},
    {"NR", N_("Nauru")},
    {"NU", N_("Niue")},
    {"NZ", N_("New Zealand")},
    {"OM", N_("Oman")},
    {"ONION", N_("Tor Hidden Service")},
    {"ORG", N_("Internic Non-Profit Organization")},
    {"PA", N_("Panama")},
    {"PE", N_("Peru")},
    {"PF", N_("French Polynesia")},
    {"PG", N_("Papua New Guinea")},
    {"PH", N_("Philippines")},
    {"PK", N_("Pakistan")},
    {"PL", N_("Poland")},
    {"PM", N_("Saint Pierre and Miquelon")},
    {"PN", N_("Pitcairn")},
    {"POST", N_("Postal Services")},
    {"PR", N_("Puerto Rico")},
    {"PRO", N_("Professions")},
    {"PS", N_("Palestinian Territory")},
    {"PT", N_("Portugal")},
    {"PW", N_("Palau")},
    {"PY", N_("Paraguay")},
    {"QA", N_("Qatar")},
    {"RE", N_("Reunion")},
    {"RO", N_("Romania")},
    {"RS", N_("Serbia")},
    {"RU", N_("Russian Federation")},
    {"RW", N_("Rwanda")},
    {"SA", N_("Saudi Arabia")},
    {"SB", N_("Solomon Islands")},
    {"SC", N_("Seychelles")},
    {"SD", N_("Sudan")},
    {"SE", N_("Sweden")},
    {"SG", N_("Singapore")},
    {"SH", N_("Saint Helena")},
    {"SI", N_("Slovenia")},
    {"SJ", N_("Svalbard and Jan Mayen Islands")},
    {"SK", N_("Slovakia")},
    {"SL", N_("Sierra Leone")},
    {"SM", N_("San Marino")},
    {"SN", N_("Senegal")},
    {"SO", N_("Somalia")},
    {"SR", N_("Suriname")},
    {"SS", N_("South Sudan")},
    {"ST", N_("Sao Tome and Principe")},
    {"SU", N_("Former USSR")},
    {"SV", N_("El Salvador")},
    {"SX", N_("Sint Maarten (Dutch part)")},
    {"SY", N_("Syria")},
    {"SZ", N_("Eswatini")},
    {"TC", N_("Turks and Caicos Islands")},
    {"TD", N_("Chad")},
    {"TEL", N_("Internet Communication Services")},
    {"TF", N_("French Southern Territories")},
    {"TG", N_("Togo")},
    {"TH", N_("Thailand")},
    {"TJ", N_("Tajikistan")},
    {"TK", N_("Tokelau")},
    {"TL", N_("Timor-Leste")},
    {"TM", N_("Turkmenistan")},
    {"TN", N_("Tunisia")},
    {"TO", N_("Tonga")},
    {"TR", N_("Turkey")},
    {"TRAVEL", N_("Travel and Tourism")},
    {"TT", N_("Trinidad and Tobago")},
    {"TV", N_("Tuvalu")},
    {"TW", N_("Taiwan")},
    {"TZ", N_("Tanzania")},
    {"UA", N_("Ukraine")},
    {"UG", N_("Uganda")},
    {"UK", N_("United Kingdom")},
    {"UM", N_("US Minor Outlying Islands")},
    {"US", N_("United States of America")},
    {"UY", N_("Uruguay")},
    {"UZ", N_("Uzbekistan")},
    {"VA", N_("Vatican City State")},
    {"VC", N_("Saint Vincent and the Grenadines")},
    {"VE", N_("Venezuela")},
    {"VG", N_("British Virgin Islands")},
    {"VI", N_("US Virgin Islands")},
    {"VN", N_("Vietnam")},
    {"VU", N_("Vanuatu")},
    {"WF", N_("Wallis and Futuna Islands")},
    {"WS", N_("Samoa")},
    {"XXX", N_("Adult Entertainment")},
    {"YE", N_("Yemen")},
    {"YT", N_("Mayotte")},
    {"ZA", N_("South Africa")},
    {"ZM", N_("Zambia")},
    {"ZW", N_("Zimbabwe")},
};

constexpr std::size_t COUNTRY_ROWS = 277;
static_assert(sizeof countries / sizeof countries[0] == COUNTRY_ROWS);

constexpr int ascii_cmp(const char *a, const char *b)
{
    for (; *a && *a == *b; a++, b++) {
    }
    return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
}

constexpr bool table_is_sorted()
{
    for (std::size_t i = 1; i < COUNTRY_ROWS; i++) {
        if (ascii_cmp(countries[i - 1].code, countries[i].code) >= 0)
            return false;
        for (const char *c = countries[i].code; *c; c++) {
            if (*c < 'A' || *c > 'Z')
                return false;
        }
    }
    return true;
}
static_assert(table_is_sorted(), "the country lookup is a binary search");

// Untranslated name of the row whose code equals `code` ignoring ASCII case.
const char *country_table_find(const char *code)
{
    if (!code)
        return nullptr;
    std::size_t lo = 0, hi = COUNTRY_ROWS;
    while (lo < hi) {
        std::size_t mid = lo + (hi - lo) / 2;
        int c = g_ascii_strcasecmp(code, countries[mid].code);
        if (c == 0)
            return countries[mid].name;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
}

std::size_t country_table_size(void)
{
    return COUNTRY_ROWS;
}

void country_table_row(std::size_t index, const char **code, const char **name)
{
    const country_row &row = countries[index < COUNTRY_ROWS ? index : 0];
    *code = row.code;
    *name = row.name;
}

} // namespace

const char *country(const char *host)
{
    if (!host || !*host)
        return nullptr;
    // Hosts without a name resolve to numeric addresses, which have no
    // country; the last character tells them apart cheaply.
    if (g_ascii_isdigit(host[strlen(host) - 1]))
        return nullptr;
    const char *dot = strrchr(host, '.');
    const char *name = country_table_find(dot ? dot + 1 : host);
    return name ? _(name) : nullptr;
}

void country_search(const char *pattern, void *user_data, void (*print)(void *user_data, const char *line))
{
    if (!pattern || !print)
        return;
    std::size_t rows = country_table_size();
    for (std::size_t i = 0; i < rows; i++) {
        const char *code = nullptr;
        const char *name = nullptr;
        country_table_row(i, &code, &name);
        const char *translated = _(name);
        if (match(pattern, name) || match(pattern, translated)) {
            char *line = g_strdup_printf("%s = %s\n", code, translated);
            print(user_data, line);
            g_free(line);
        }
    }
}
