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
