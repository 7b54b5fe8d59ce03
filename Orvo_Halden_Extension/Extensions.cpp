#include "Orvo_Halden_Extension/Extensions.h"

#include <cstdio>
#include <utility>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/StringEncoding.h"
#include "platform/foundation/URLSession.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIImageView.h"

std::optional<URL> documentsURL;
std::optional<URL> resourcesURL;
const std::optional<URL> sharedURLAudio;
const std::optional<URL> sharedURLMIDI;

const std::array<std::string_view, 197> capitals = {"Kabul",
                                                    "Tirana",
                                                    "Algiers",
                                                    "Andorra la Vella",
                                                    "Luanda",
                                                    "St. John's",
                                                    "Buenos Aires",
                                                    "Yerevan",
                                                    "Canberra",
                                                    "Vienna",
                                                    "Baku",
                                                    "Nassau",
                                                    "Manama",
                                                    "Dhaka",
                                                    "Bridgetown",
                                                    "Minsk",
                                                    "Brussels",
                                                    "Belmopan",
                                                    "Porto Novo",
                                                    "Thimphu",
                                                    "Sucre",
                                                    "Sarajevo",
                                                    "Gaborone",
                                                    "Brasilia",
                                                    "Bandar Seri Begawan",
                                                    "Sofia",
                                                    "Ouagadougou",
                                                    "Bujumbura",
                                                    "Phnom Penh",
                                                    "Yaoundé",
                                                    "Ottawa",
                                                    "Praia",
                                                    "Bangui",
                                                    "N'Djamena",
                                                    "Santiago",
                                                    "Beijing",
                                                    "Bogota",
                                                    "Moroni",
                                                    "San José",
                                                    "Zagreb",
                                                    "Havana",
                                                    "Nicosia",
                                                    "Prague",
                                                    "Kinshasa",
                                                    "Copenagen",
                                                    "Djibouti",
                                                    "Roseau",
                                                    "Santo Domingo",
                                                    "Dili",
                                                    "Quito",
                                                    "Cairo",
                                                    "San Salvador",
                                                    "Malabo",
                                                    "Asmara",
                                                    "Tallinn",
                                                    "Mbabane",
                                                    "Addis Ababa",
                                                    "Suva",
                                                    "Helsinki",
                                                    "Paris",
                                                    "Libreville",
                                                    "Banjul",
                                                    "Tbilisi",
                                                    "Berlin",
                                                    "Accra",
                                                    "Athens",
                                                    "St. George's",
                                                    "Guatemala City",
                                                    "Conakry",
                                                    "Bissau",
                                                    "Georgetown",
                                                    "Port-au-Prince",
                                                    "Tegucigalpa",
                                                    "Budapest",
                                                    "Reykjavík",
                                                    "New Delhi",
                                                    "Jakarta",
                                                    "Tehran",
                                                    "Baghdad",
                                                    "Dublin",
                                                    "Jerusalem",
                                                    "Rome",
                                                    "Yamoussoukro",
                                                    "Kingston",
                                                    "Tokyo",
                                                    "Amman",
                                                    "Astana",
                                                    "Nairobi",
                                                    "Tarawa",
                                                    "Pyongyang",
                                                    "Seoul",
                                                    "Pristina",
                                                    "Kuwait City",
                                                    "Bishkek",
                                                    "Vientiane",
                                                    "Riga",
                                                    "Beirut",
                                                    "Maseru",
                                                    "Monrovia",
                                                    "Tripoli",
                                                    "Vaduz",
                                                    "Vilnius",
                                                    "Luxembourg",
                                                    "Antananarivo",
                                                    "Lilongwe",
                                                    "Kuala Lumpur",
                                                    "Malé",
                                                    "Bamako",
                                                    "Valletta",
                                                    "Majuro",
                                                    "Nouakchott",
                                                    "Port Louis",
                                                    "Mexico City",
                                                    "Palikir",
                                                    "Chisinau",
                                                    "Monaco",
                                                    "Ulaanbaatar",
                                                    "Podgorica",
                                                    "Rabat",
                                                    "Maputo",
                                                    "Naypyidaw",
                                                    "Windhoek",
                                                    "Yaren",
                                                    "Kathmandu",
                                                    "Amsterdam",
                                                    "Wellington",
                                                    "Managua",
                                                    "Niamey",
                                                    "Abuja",
                                                    "Skopje",
                                                    "Oslo",
                                                    "Muscat",
                                                    "Islamabad",
                                                    "Melekeok",
                                                    "East Jerusalem",
                                                    "Panama City",
                                                    "Port Moresby",
                                                    "Asunción",
                                                    "Lima",
                                                    "Manila",
                                                    "Warsaw",
                                                    "Lisbon",
                                                    "Doha",
                                                    "Brazzaville",
                                                    "Bucharest",
                                                    "Moscow",
                                                    "Kigali",
                                                    "Basseterre",
                                                    "Castries",
                                                    "Kingstown",
                                                    "Apia",
                                                    "San Marino",
                                                    "São Tomé",
                                                    "Riyadh",
                                                    "Dakar",
                                                    "Belgrade",
                                                    "Victoria",
                                                    "Freetown",
                                                    "Singapore",
                                                    "Bratislava",
                                                    "Ljubljana",
                                                    "Honiara",
                                                    "Mogadishu",
                                                    "Pretoria",
                                                    "Juba",
                                                    "Madrid",
                                                    "Sri Jayawardenapura Kotte",
                                                    "Khartoum",
                                                    "Paramaribo",
                                                    "Stockholm",
                                                    "Bern",
                                                    "Damascus",
                                                    "Taipei",
                                                    "Dushanbe",
                                                    "Dodoma",
                                                    "Bangkok",
                                                    "Lomé",
                                                    "Nukualofa",
                                                    "Port of Spain",
                                                    "Tunis",
                                                    "Ankara",
                                                    "Ashgabat",
                                                    "Funafuti",
                                                    "Kampala",
                                                    "Kiev",
                                                    "Abu Dhabi",
                                                    "London",
                                                    "Washington D.C.",
                                                    "Montevideo",
                                                    "Tashkent",
                                                    "Port Vila",
                                                    "Vatican City",
                                                    "Caracas",
                                                    "Hanoi",
                                                    "Sana'a",
                                                    "Lusaka",
                                                    "Harare"};

std::string stringValue(std::uint32_t code) {
    const std::array<std::uint8_t, 4> bytes = {
        static_cast<std::uint8_t>(code >> 24), static_cast<std::uint8_t>(code >> 16),
        static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code)};
    return decodeMacOSRoman(bytes).value_or("FAIL");
}

std::string uniqueName(const std::optional<std::string>& withPrefix) {
    std::string unique = ProcessInfo::processInfo().globallyUniqueString();
    return withPrefix ? *withPrefix + "-" + unique : unique;
}

void printLine(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string describeList(const std::vector<std::string>& items) {
    std::string text = "[";
    for (const auto& item : items) text += (text.size() > 1 ? ", \"" : "\"") + item + "\"";
    return text + "]";
}

void safeprint(std::string text) {
    DispatchQueue::main().async([line = std::move(text) + "\n"] {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    });
}

void debugprint(std::string text) { safeprint(std::move(text)); }

bool ensureDirectoryExists(const URL& url) {
    auto& files = FileManager::defaultManager();
    bool isDirectory = false;
    if (files.fileExists(url.path(), isDirectory) && isDirectory) return true;
    try {
        files.createDirectory(url, true); // a plain file in the way fails here
        return true;
    } catch (const NSError& error) {
        debugprint("ensureDirectoryExists() : ERROR: Creating required directory '" + url.path() +
                   "' failed: " + error.localizedDescription());
        return false;
    }
}

void getPaths() {
    const auto documents = FileManager::defaultManager().urls(SearchPathDirectory::documentDirectory,
                                                              SearchPathDomainMask::userDomainMask);
    documentsURL = documents.empty() ? std::nullopt : std::optional<URL>(documents.front());
    if (documentsURL)
        safeprint("AudioUnitViewController::getPaths() : Audio Unit's documents path is: " +
                  documentsURL->path());
    else
        safeprint("AudioUnitViewController::getPaths() : ERROR: Audio Unit's documents path is nil.");

    resourcesURL = Bundle::main().resourceURL();
    if (resourcesURL)
        safeprint("AudioUnitViewController::getPaths() : Audio Unit's resources path is: " +
                  resourcesURL->path());
    else
        safeprint("AudioUnitViewController::getPaths() : ERROR: Audio Unit's resources path is nil.");
}

void pinToSuperviewEdges(UIView& view) {
    UIView* parent = view.superview();
    if (!parent)
        return;
    NSLayoutConstraint::pinEdges(view, *parent);
}

void loadFrom(const std::shared_ptr<UIImageView>& imageView, const std::string& URLAddress) {
    const std::optional<URL> url = URL::string(URLAddress);
    if (!url) {
        debugprint("UIImageView::loadFrom() : Could not encode url string : " + URLAddress);
        return;
    }
    DispatchQueue::main().async([weak = std::weak_ptr<UIImageView>(imageView), url = *url] {
        Data data;
        try {
            data = dataWithContentsOfURL(url);
        } catch (const NSError&) {
            debugprint("UIImageView::loadFrom() : Could not encode image data.");
            return;
        }
        std::shared_ptr<UIImage> image = UIImage::withData(data);
        const std::shared_ptr<UIImageView> view = weak.lock();
        if (image && view)
            view->setImage(std::move(image));
        else
            debugprint("UIImageView::loadFrom() : Could not assign image.");
    });
}

void getImageFromURLString(const std::shared_ptr<UIImageView>& imageView, const std::string& imageURLString) {
    const std::optional<URL> url = URL::string(imageURLString);
    if (!url || !imageView)
        return;
    URLSession::shared().dataTask(
        URLRequest{*url, 60}, [imageView](const std::optional<Data>& data, const std::optional<URLResponse>& response,
                                          const std::optional<NSError>& error) {
            if (error) {
                std::printf("%s\n", error->localizedDescription().c_str());
                std::fflush(stdout);
                return;
            }
            if (response && response->statusCode == 200) {
                std::printf("Fetched image successfully\n");
                std::fflush(stdout);
            }
            imageView->setImage(data ? UIImage::withData(*data) : nullptr);
        });
}
