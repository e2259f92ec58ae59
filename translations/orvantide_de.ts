<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Reason</name>
    <message>
        <source>The port cannot be opened: %1.</source>
        <translation>Der Port kann nicht geöffnet werden: %1.</translation>
    </message>
    <message>
        <source>No serial port has the number %1.</source>
        <translation>Keine serielle Schnittstelle hat die Nummer %1.</translation>
    </message>
    <message>
        <source>the line settings &quot;%1&quot; are not valid: %2</source>
        <translation>die Leitungseinstellungen „%1“ sind ungültig: %2</translation>
    </message>
    <message>
        <source>expected baud,parity,data bits,stop bits such as 9600,N,8,1</source>
        <translation>erwartet werden Baud,Parität,Datenbits,Stoppbits wie 9600,N,8,1</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a baud rate</source>
        <translation>„%1“ ist keine Baudrate</translation>
    </message>
    <message>
        <source>parity must be N, E, O, M or S</source>
        <translation>die Parität muss N, E, O, M oder S sein</translation>
    </message>
    <message>
        <source>data bits must be 5, 6, 7 or 8</source>
        <translation>die Datenbits müssen 5, 6, 7 oder 8 sein</translation>
    </message>
    <message>
        <source>stop bits must be 1, 1.5 or 2</source>
        <translation>die Stoppbits müssen 1, 1.5 oder 2 sein</translation>
    </message>
    <message>
        <source>&quot;%1&quot; names no network port: it must be rfc2217://HOST:PORT or socket://HOST:PORT, with a host name or address and a port from 1 to 65535.</source>
        <translation>„%1“ nennt keinen Netzwerkport: erwartet wird rfc2217://HOST:PORT oder socket://HOST:PORT, mit einem Hostnamen oder einer Adresse und einem Port von 1 bis 65535.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; names no serial port: it must be %2.</source>
        <translation>„%1“ nennt keine serielle Schnittstelle: erwartet wird %2.</translation>
    </message>
    <message>
        <source>a device path such as %1</source>
        <translation>ein Gerätepfad wie %1</translation>
    </message>
    <message>
        <source>a device path</source>
        <translation>ein Gerätepfad</translation>
    </message>
    <message>
        <source>a port number of 1 or more</source>
        <translation>eine Portnummer ab 1</translation>
    </message>
    <message>
        <source>a port number such as 1</source>
        <translation>eine Portnummer wie 1</translation>
    </message>
    <message>
        <source>%1, or %2</source>
        <translation>%1 oder %2</translation>
    </message>
    <message>
        <source>%1, %2, or rfc2217://HOST:PORT or socket://HOST:PORT</source>
        <translation>%1, %2 oder rfc2217://HOST:PORT oder socket://HOST:PORT</translation>
    </message>
    <message>
        <source>it is a terminal or console, not a serial line</source>
        <translation>es ist ein Terminal oder eine Konsole, keine serielle Leitung</translation>
    </message>
    <message>
        <source>it is the terminal of process %1 (%2), not a free serial line</source>
        <translation>es ist das Terminal des Prozesses %1 (%2), keine freie serielle Leitung</translation>
    </message>
    <message>
        <source>%1. Only members of the group &quot;%2&quot; may use it: add your user to that group (sudo adduser $USER %2) and log in again.</source>
        <translation>%1. Nur Mitglieder der Gruppe „%2“ dürfen ihn benutzen: Fügen Sie Ihren Benutzer dieser Gruppe hinzu (sudo adduser $USER %2) und melden Sie sich neu an.</translation>
    </message>
    <message>
        <source>Could not open %1: it is in use by another program (process %2).</source>
        <translation>%1 konnte nicht geöffnet werden: ein anderes Programm benutzt ihn (Prozess %2).</translation>
    </message>
    <message>
        <source>Could not open %1: it is in use by another program.</source>
        <translation>%1 konnte nicht geöffnet werden: ein anderes Programm benutzt ihn.</translation>
    </message>
    <message>
        <source>Could not open %1: %2.</source>
        <translation>%1 konnte nicht geöffnet werden: %2.</translation>
    </message>
    <message>
        <source>Could not open %1: %2</source>
        <translation>%1 konnte nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <source>Could not open %1: it is not a serial port.</source>
        <translation>%1 konnte nicht geöffnet werden: es ist keine serielle Schnittstelle.</translation>
    </message>
    <message>
        <source>Could not open %1: the port has no baud rate %2.</source>
        <translation>%1 konnte nicht geöffnet werden: der Port kennt die Baudrate %2 nicht.</translation>
    </message>
    <message>
        <source>Could not open %1: the port has no 1.5 stop bits.</source>
        <translation>%1 konnte nicht geöffnet werden: der Port kennt keine 1,5 Stoppbits.</translation>
    </message>
    <message>
        <source>%1 hung up (the device went away).</source>
        <translation>%1 hat aufgelegt (das Gerät ist fort).</translation>
    </message>
    <message>
        <source>Could not write to %1: %2</source>
        <translation>In %1 konnte nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>the port is not open</source>
        <translation>der Port ist nicht geöffnet</translation>
    </message>
    <message>
        <source>the bytes were not taken within %1 ms</source>
        <translation>die Bytes wurden nicht innerhalb von %1 ms angenommen</translation>
    </message>
    <message>
        <source>the device hung up</source>
        <translation>das Gerät hat aufgelegt</translation>
    </message>
    <message>
        <source>%1; the network is closed to this program (a service unit opens it with RestrictAddressFamilies=AF_INET AF_INET6 and IPAddressAllow=)</source>
        <translation>%1; das Netzwerk ist diesem Programm verschlossen (eine Dienst-Unit öffnet es mit RestrictAddressFamilies=AF_INET AF_INET6 und IPAddressAllow=)</translation>
    </message>
    <message>
        <source>looking up the name %1</source>
        <translation>der Name %1 wird nachgeschlagen</translation>
    </message>
    <message>
        <source>the server has not answered yet</source>
        <translation>der Server hat noch nicht geantwortet</translation>
    </message>
    <message>
        <source>the server has not agreed the line settings yet</source>
        <translation>der Server hat den Leitungseinstellungen noch nicht zugestimmt</translation>
    </message>
    <message>
        <source>the name %1 does not resolve (%2)</source>
        <translation>der Name %1 lässt sich nicht auflösen (%2)</translation>
    </message>
    <message>
        <source>the server did not agree the line settings within %1 ms</source>
        <translation>der Server hat den Leitungseinstellungen nicht innerhalb von %1 ms zugestimmt</translation>
    </message>
    <message>
        <source>the server sent more than %1 bytes without agreeing the line settings</source>
        <translation>der Server hat mehr als %1 Bytes gesendet, ohne den Leitungseinstellungen zuzustimmen</translation>
    </message>
    <message>
        <source>the server closed the connection</source>
        <translation>der Server hat die Verbindung geschlossen</translation>
    </message>
    <message>
        <source>the name %1 was not resolved within %2 ms (no name server answered)</source>
        <translation>der Name %1 wurde nicht innerhalb von %2 ms aufgelöst (kein Nameserver hat geantwortet)</translation>
    </message>
    <message>
        <source>%1 %2</source>
        <translation>%1 %2</translation>
    </message>
    <message>
        <source>hung up: the server closed the connection</source>
        <translation>aufgelegt: der Server hat die Verbindung geschlossen</translation>
    </message>
    <message>
        <source>hung up: %1</source>
        <translation>aufgelegt: %1</translation>
    </message>
    <message>
        <source>dropped: the server sent more than %1 bytes in a second, more than its line carries</source>
        <translation>getrennt: der Server hat mehr als %1 Bytes in einer Sekunde gesendet, mehr als seine Leitung trägt</translation>
    </message>
    <message>
        <source>dropped: %1</source>
        <translation>getrennt: %1</translation>
    </message>
    <message>
        <source>the server took no bytes within %1 ms</source>
        <translation>der Server hat innerhalb von %1 ms keine Bytes angenommen</translation>
    </message>
    <message>
        <source>the connection was lost</source>
        <translation>die Verbindung ist verloren gegangen</translation>
    </message>
    <message>
        <source>the server sent a subnegotiation longer than %1 bytes; it does not speak RFC 2217</source>
        <translation>der Server hat eine Subnegotiation von mehr als %1 Bytes gesendet; er spricht kein RFC 2217</translation>
    </message>
    <message>
        <source>the server does not take line settings (RFC 2217); a raw TCP port is named socket://HOST:PORT</source>
        <translation>der Server nimmt keine Leitungseinstellungen an (RFC 2217); ein roher TCP-Port heißt socket://HOST:PORT</translation>
    </message>
    <message>
        <source>the server does not take binary data (RFC 856), which the display&apos;s frames are</source>
        <translation>der Server nimmt keine Binärdaten an (RFC 856), und die Telegramme der Anzeige sind welche</translation>
    </message>
    <message>
        <source>%1 %2, not %3</source>
        <translation>%1 %2, nicht %3</translation>
    </message>
    <message>
        <source>The port is not open.</source>
        <translation>Der Port ist nicht geöffnet.</translation>
    </message>
    <message>
        <source>it is in use by another program.</source>
        <translation>ein anderes Programm benutzt ihn.</translation>
    </message>
    <message>
        <source>the bytes were not taken in time</source>
        <translation>die Bytes wurden nicht rechtzeitig angenommen</translation>
    </message>
    <message>
        <source>It must be a whole number of minutes from -32768 to 32767.</source>
        <translation>Erwartet wird eine ganze Zahl von Minuten von -32768 bis 32767.</translation>
    </message>
    <message>
        <source>It must be %1.</source>
        <translation>Erwartet wird %1.</translation>
    </message>
    <message>
        <source>It must be line settings such as 9600,N,8,1: %1.</source>
        <translation>Erwartet werden Leitungseinstellungen wie 9600,N,8,1: %1.</translation>
    </message>
    <message>
        <source>It must be 1 (warn when the PC clock is not synchronised to a time source) or 0 (never warn); absent means 1.</source>
        <translation>Erwartet wird 1 (warnen, wenn die PC-Uhr nicht mit einer Zeitquelle abgeglichen ist) oder 0 (nie warnen); fehlt der Schlüssel, gilt 1.</translation>
    </message>
    <message>
        <source>The settings file &quot;%1&quot; %2. It must hold the keys CommPort and Setting in section [Settings] and Interval in section [Sync].</source>
        <translation>Die Einstellungsdatei „%1“ %2. Sie muss die Schlüssel CommPort und Setting im Abschnitt [Settings] und Interval im Abschnitt [Sync] enthalten.</translation>
    </message>
    <message>
        <source>The settings file &quot;%1&quot; has an invalid value in section [%2], key %3: &quot;%4&quot;. It must not hold control characters.</source>
        <translation>Die Einstellungsdatei „%1“ hat einen ungültigen Wert im Abschnitt [%2], Schlüssel %3: „%4“. Er darf keine Steuerzeichen enthalten.</translation>
    </message>
    <message>
        <source>The settings file &quot;%1&quot; has an invalid value in section [%2], key %3: &quot;%4&quot;. %5</source>
        <translation>Die Einstellungsdatei „%1“ hat einen ungültigen Wert im Abschnitt [%2], Schlüssel %3: „%4“. %5</translation>
    </message>
    <message>
        <source>the section name &quot;%1&quot; cannot be stored</source>
        <translation>der Abschnittsname „%1“ kann nicht gespeichert werden</translation>
    </message>
    <message>
        <source>the key name &quot;%1&quot; cannot be stored</source>
        <translation>der Schlüsselname „%1“ kann nicht gespeichert werden</translation>
    </message>
    <message>
        <source>the value for key %1 contains a control character: &quot;%2&quot;</source>
        <translation>der Wert für den Schlüssel %1 enthält ein Steuerzeichen: „%2“</translation>
    </message>
    <message>
        <source>Cannot write the settings file &quot;%1&quot;: it %2.</source>
        <translation>Die Einstellungsdatei „%1“ kann nicht geschrieben werden: sie %2.</translation>
    </message>
    <message>
        <source>Cannot write the settings file &quot;%1&quot;: %2.</source>
        <translation>Die Einstellungsdatei „%1“ kann nicht geschrieben werden: %2.</translation>
    </message>
    <message>
        <source>was not found</source>
        <translation>wurde nicht gefunden</translation>
    </message>
    <message>
        <source>cannot be read: %1</source>
        <translation>kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>is reached through the link &quot;%1&quot;, which belongs to another user (user ID %2): the settings are never read or written through another user&apos;s link</source>
        <translation>wird über die Verknüpfung „%1“ erreicht, die einem anderen Benutzer gehört (Benutzer-ID %2): die Einstellungen werden nie über die Verknüpfung eines anderen Benutzers gelesen oder geschrieben</translation>
    </message>
    <message>
        <source>leads to &quot;%1&quot;, which is a link: the settings are never read or written through a link found there</source>
        <translation>führt zu „%1“, einer Verknüpfung: die Einstellungen werden nie über eine dort gefundene Verknüpfung gelesen oder geschrieben</translation>
    </message>
    <message>
        <source>is not a regular file (its links form a loop)</source>
        <translation>ist keine reguläre Datei (ihre Verknüpfungen bilden eine Schleife)</translation>
    </message>
    <message>
        <source>is a link that cannot be followed</source>
        <translation>ist eine Verknüpfung, der nicht gefolgt werden kann</translation>
    </message>
    <message>
        <source>is not a regular file</source>
        <translation>ist keine reguläre Datei</translation>
    </message>
    <message>
        <source>is now a link to &quot;%1&quot;: the settings are never read or written through a link found there</source>
        <translation>ist jetzt eine Verknüpfung zu „%1“: die Einstellungen werden nie über eine dort gefundene Verknüpfung gelesen oder geschrieben</translation>
    </message>
    <message>
        <source>is too large: a settings file is at most %1 bytes</source>
        <translation>ist zu groß: eine Einstellungsdatei hat höchstens %1 Bytes</translation>
    </message>
    <message>
        <source>cannot be examined: %1</source>
        <translation>kann nicht untersucht werden: %1</translation>
    </message>
    <message>
        <source>leads to &quot;%1&quot;, which is now a link to &quot;%2&quot;: the settings are never written through a link found there</source>
        <translation>führt zu „%1“, jetzt einer Verknüpfung zu „%2“: die Einstellungen werden nie über eine dort gefundene Verknüpfung geschrieben</translation>
    </message>
    <message>
        <source>leads to &quot;%1&quot;, which is not a regular file</source>
        <translation>führt zu „%1“, keiner regulären Datei</translation>
    </message>
    <message>
        <source>cannot be written: %1</source>
        <translation>kann nicht geschrieben werden: %1</translation>
    </message>
    <message>
        <source>cannot be written: no free temporary name</source>
        <translation>kann nicht geschrieben werden: kein freier vorläufiger Name</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>cannot be written</source>
        <translation>kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>cannot be replaced: %1</source>
        <translation>kann nicht ersetzt werden: %1</translation>
    </message>
    <message>
        <source>was replaced, but its folder could not be flushed to the disk: %1</source>
        <translation>wurde ersetzt, aber ihr Ordner konnte nicht auf die Platte geschrieben werden: %1</translation>
    </message>
    <message>
        <source>Cannot create the autostart folder &quot;%1&quot;.</source>
        <translation>Der Autostart-Ordner „%1“ kann nicht angelegt werden.</translation>
    </message>
    <message>
        <source>Cannot write the autostart entry &quot;%1&quot;: it %2.</source>
        <translation>Der Autostart-Eintrag „%1“ kann nicht geschrieben werden: er %2.</translation>
    </message>
    <message>
        <source>Cannot remove the autostart entry &quot;%1&quot;: %2.</source>
        <translation>Der Autostart-Eintrag „%1“ kann nicht entfernt werden: %2.</translation>
    </message>
    <message>
        <source>Windows refused to change the value %1 under HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run (access denied). Changing it needs administrator rights.</source>
        <translation>Windows hat die Änderung des Werts %1 unter HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run verweigert (Zugriff verweigert). Dafür sind Administratorrechte nötig.</translation>
    </message>
</context>
<context>
    <name>SyncIntervals</name>
    <message>
        <source>minute</source>
        <translation>1 Minute</translation>
    </message>
    <message>
        <source>30 minutes</source>
        <translation>30 Minuten</translation>
    </message>
    <message>
        <source>hour</source>
        <translation>1 Stunde</translation>
    </message>
    <message>
        <source>12 hours</source>
        <translation>12 Stunden</translation>
    </message>
</context>
<context>
    <name>frmMain</name>
    <message>
        <source>The settings dialog has the port. Closing the dialog opens it again and sends a frame.</source>
        <translation>Der Einstellungsdialog hat den Port. Wird der Dialog geschlossen, öffnet er ihn wieder und sendet ein Telegramm.</translation>
    </message>
    <message>
        <source>Clock</source>
        <translation>Uhr</translation>
    </message>
    <message>
        <source>SYNC NOW</source>
        <translation>ABGLEICHEN</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>&amp;Setting</source>
        <translation>&amp;Einstellung</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Wiederherstellen</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>The display is reached again</source>
        <translation>Die Anzeige ist wieder erreichbar</translation>
    </message>
    <message>
        <source>Its clock was set at %1 on %2.</source>
        <translation>Ihre Uhr wurde am %1 über %2 gestellt.</translation>
    </message>
    <message>
        <source>Last Sync at </source>
        <translation>Abgeglichen am </translation>
    </message>
    <message>
        <source>The display is not reached</source>
        <translation>Die Anzeige ist nicht erreichbar</translation>
    </message>
    <message>
        <source>Its clock runs on its own until the port is back; Orvantide then sets it at once.</source>
        <translation>Ihre Uhr läuft für sich, bis der Port wieder da ist; Orvantide stellt sie dann sofort.</translation>
    </message>
    <message>
        <source>Port Not Open</source>
        <translation>Port nicht offen</translation>
    </message>
    <message>
        <source>Settings open: port closed</source>
        <translation>Einstellungen offen: Port geschlossen</translation>
    </message>
    <message>
        <source>The PC clock is not synchronised to a time source (since %1); the display follows it all the same.</source>
        <translation>Die Uhr des PCs ist nicht mit einer Zeitquelle abgeglichen (seit %1); die Anzeige folgt ihr trotzdem.</translation>
    </message>
    <message>
        <source>When the PC is busy, the display may be set some milliseconds late.</source>
        <translation>Ist der PC ausgelastet, kann die Anzeige einige Millisekunden zu spät gestellt werden.</translation>
    </message>
    <message>
        <source>KV7R/9R Orvantide (service)</source>
        <translation>KV7R/9R Orvantide (Dienst)</translation>
    </message>
    <message>
        <source>Orvantide (service)</source>
        <translation>Orvantide (Dienst)</translation>
    </message>
</context>
<context>
    <name>frmSetting</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Serial Port Settings</source>
        <translation>Serielle Schnittstelle</translation>
    </message>
    <message>
        <source>COM</source>
        <translation>COM</translation>
    </message>
    <message>
        <source>&amp;Port</source>
        <translation>&amp;Port</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Sync Interval</source>
        <translation>Abgleich</translation>
    </message>
    <message>
        <source>Every</source>
        <translation>Intervall</translation>
    </message>
    <message>
        <source>&amp;Every</source>
        <translation>&amp;Intervall</translation>
    </message>
    <message>
        <source>Sync interval</source>
        <translation>Abgleichintervall</translation>
    </message>
    <message>
        <source>SET</source>
        <translation>SETZEN</translation>
    </message>
    <message>
        <source>Run On Windows Startup</source>
        <translation>Mit Windows starten</translation>
    </message>
    <message>
        <source>Run at &amp;login</source>
        <translation>Beim &amp;Anmelden starten</translation>
    </message>
    <message>
        <source>Settings Done</source>
        <translation>Einstellungen gespeichert</translation>
    </message>
    <message>
        <source>The settings were not saved.

&quot;%1&quot; is not one of the intervals: %2.</source>
        <translation>Die Einstellungen wurden nicht gespeichert.

„%1“ ist keines der Intervalle: %2.</translation>
    </message>
    <message>
        <source>%1 is not there now; it is opened when it is plugged in.</source>
        <translation>%1 ist gerade nicht vorhanden; der Anschluss wird geöffnet, sobald er eingesteckt ist.</translation>
    </message>
    <message>
        <source>The settings were not saved.

%1</source>
        <translation>Die Einstellungen wurden nicht gespeichert.

%1</translation>
    </message>
    <message>
        <source>Run at login could not be changed.

%1</source>
        <translation>Der Start beim Anmelden konnte nicht geändert werden.

%1</translation>
    </message>
</context>
</TS>
