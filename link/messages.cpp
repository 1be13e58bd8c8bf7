#include "link/messages.hpp"

namespace vtsd::link_text {

const Msg kExchangeBroken{"4Во время обмена связь с ТСД была разорвана, повторите обмен.",
                          "4During an exchange relationship with TSD was broken again exchange."};
const Msg kExchangeUnknown{"4Неизвестная ошибка во время обмена с ТСД.",
                           "4Unknown error while communicating with TSD."};
const Msg kDisconnected{"4ТСД отключен.", "4TSD Disconnected."};
const Msg kReplyMismatch{"4Ошибка при получение ответа от ТСД, ответ не соответствует запросу.",
                         "4An error occurred while receiving a reply from the TSD, the reply does "
                         "not match the request."};

const Msg kAlreadyConnected{"1ТСД уже подключен.", "1TSD already connected"};
const Msg kLibraryStart{"1Ошибка при инициализации протокола WSA,перезапустите драйвер.",
                        "1Error during initialization protocol WSA, restart the driver."};
const Msg kSocketCreate{
    "1Ошибка при инициализации Сокета,убедитесь что указанный порт не занят или перезапустите "
    "драйвер.",
    "1An error occurred while initializing the socket, make sure that the specified port is not "
    "busy or restart the driver."};
const Msg kPortUnavailable{"1Заданный порт недоступен.", "1The specified port is not available."};
const Msg kAddressNotIPv4{
    "8Настройка \"ИП Адрес\" не является адресом IPv4. Укажите четыре числа от 0 до 255 через "
    "точку, например 192.168.1.30.",
    "8The \"IP Address\" setting is not an IPv4 address. Give four numbers from 0 to 255 "
    "separated by dots, for example 192.168.1.30."};
const Msg kListenFailed{"4Ошибка в listen.", "4Error in listen."};
const Msg kAcceptFailed{"4Ошибка в ClietSoket.", "4Error in ClietSoket."};
const Msg kOpenTimeout{
    "1Тайм-Аут подключения. Проверьте настройку Время Ожидания или повторите попытку.",
    "1Connection timeout. Check the setting of time out or try again."};
const Msg kCloseNotConnected{"2ТСД не подключен.", "2TSD is not connected."};
const Msg kCloseWrongId{"2Нет подключенного ТСД, по заданному ID.",
                        "2No connected TSD on the specified ID."};
const Msg kDisconnectRefused{"2Ошибка Подключения ТСД.", "2Error Connections TSD."};
const Msg kCloseWrongType{
    "2Ошибка при отключение ТСД,неверный тип данных у параметра ИД устройства.",
    "2Error during shutdown TSD, the wrong data type of the parameter device ID."};
const Msg kInfoCaption{"Vemlar TSD", "Vemlar TSD"};
const Msg kInfoText{"Запустите обмен на ТСД", "Run-for-TSD"};

const Msg kValueTooShort{"4Ошибка при получение каталога от ТСД.",
                         "4An error occurred while getting a directory from TSD."};
const Msg kCreateRemoteFailed{"4Ошибка при создание файла на ТСД.",
                              "4An error occurred while creating the file on the TSD."};
const Msg kOpenRemoteFailed{"4Ошибка при открытие файла на ТСД.",
                            "4Error when opening a file on the TSD."};
const Msg kSendNoHandle{"4Ошибка отправки файла на ТСД. Handle файла на ТСД равен 0.",
                        "4Error sending the file to the TSD. Handle ID for TSD is 0."};
const Msg kSendMissing{"4Ошибка, отправляемый файл не существует.",
                       "4Error sent file does not exist."};
const Msg kSendOpenFailed{"4Ошибка при открытие файла для отправки.",
                          "4Error while opening a file to send."};
const Msg kPacketSize{"4Ошибка при получение размера пакета от ТСД.",
                      "4An error occurred while receiving the packet size of the TSD."};
const Msg kReceiveNoHandle{"4Ошибка приема файла от ТСД. Handle файла на ТСД равен 0.",
                           "4Error receive a file from the TSD. Handle ID for TSD is 0."};
const Msg kReceiveCreateFailed{"4Ошибка при создание файла на ПК.",
                               "4Error while creating a file on the PC."};
const Msg kFileSize{"4Ошибка при получение размера файла от ТСД.",
                    "4An error occurred while getting the file size of the TSD."};
const Msg kReceiveWriteFailed{"4Ошибка при записи файла на ПК.",
                              "4Error while writing a file on the PC."};
const Msg kSendReadFailed{"4Ошибка при чтение файла для отправки.",
                          "4Error while reading a file to send."};
const Msg kWriteRefused{
    "4ТСД не записал часть файла, файл не отправлен. Проверьте свободное место на ТСД.",
    "4The TSD did not write a piece of the file, the file was not sent. Check the free space on "
    "the TSD."};
const Msg kRemoteMissing{"4Запрашиваемый файл на устройстве отсутствует.",
                         "4The requested file is missing on the device."};
const Msg kRemoteAppeared{
    "4Файл на ТСД, которого не было в начале обмена, оказался на месте; драйвер не стал записывать его "
    "заново. Повторите операцию.",
    "4A file the TSD did not have when the exchange began is there after all; the driver did not write over "
    "it. Repeat the operation."};

const Msg kTestTimeout{
    "3Тайм-Аут подключения. Проверьте настройку Время Ожидания или повторите попытку.",
    "3Connection timeout. Check the setting of time out or try again."};
const Msg kTestNotConnected{"3ТСД не подключен.", "3TSD is not connected."};
const Msg kTestModel{"3Ошибка при получение Модели ТСД.",
                     "3An error occurred while getting Models TSD."};

}  // namespace vtsd::link_text
