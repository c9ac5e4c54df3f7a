<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es" sourcelanguage="en">
<context>
    <name>Alert</name>
    <message>
        <source>Error: The board stopped answering. Unplug it, hold its button and plug it in again.</source>
        <translation>Error: la placa ha dejado de responder. Desconéctela, mantenga pulsado su botón y vuelva a conectarla.</translation>
    </message>
    <message>
        <source>Error: Please check your network</source>
        <translation>Error: compruebe su conexión de red</translation>
    </message>
    <message>
        <source>Error: The firmware file is damaged (line %1)</source>
        <translation>Error: el archivo de firmware está dañado (línea %1)</translation>
    </message>
    <message>
        <source>Error: The firmware file is too large for this board</source>
        <translation>Error: el archivo de firmware es demasiado grande para esta placa</translation>
    </message>
    <message>
        <source>Error: The firmware file holds no firmware data</source>
        <translation>Error: el archivo de firmware no contiene datos de firmware</translation>
    </message>
    <message>
        <source>Parse txt file error</source>
        <translation>No se ha podido leer el archivo de descripción de la versión</translation>
    </message>
    <message>
        <source>checkSumStr error</source>
        <translation>La suma de comprobación de la versión no es válida</translation>
    </message>
    <message>
        <source>The release is not signed by its publisher.</source>
        <translation>La versión no está firmada por su editor.</translation>
    </message>
    <message>
        <source>The firmware does not match its release.</source>
        <translation>El firmware no coincide con su versión.</translation>
    </message>
    <message>
        <source>No firmware release has been read from the update server</source>
        <translation>Aún no se ha leído ninguna versión de firmware del servidor de actualizaciones</translation>
    </message>
    <message>
        <source>The firmware file has no valid address on the update server %1</source>
        <translation>El archivo de firmware no tiene una dirección válida en el servidor de actualizaciones %1</translation>
    </message>
    <message>
        <source>Cannot write the firmware file %1: %2</source>
        <translation>No se puede escribir el archivo de firmware %1: %2</translation>
    </message>
    <message>
        <source>Cannot start a network transfer</source>
        <translation>No se puede iniciar la transferencia de red</translation>
    </message>
    <message>
        <source>Cannot set up the network transfer: %1</source>
        <translation>No se puede preparar la transferencia de red: %1</translation>
    </message>
    <message>
        <source>The server sent more than %1 bytes</source>
        <translation>El servidor ha enviado más de %1 bytes</translation>
    </message>
    <message>
        <source>The server announced %1 bytes, more than %2</source>
        <translation>El servidor ha anunciado %1 bytes, más del límite de %2</translation>
    </message>
    <message>
        <source>The server has not answered for %1 s</source>
        <translation>El servidor lleva %1 s sin responder</translation>
    </message>
</context>
<context>
    <name>ViewController</name>
    <message>
        <source>Trident Updater</source>
        <translation>Actualizador Trident</translation>
    </message>
    <message>
        <source>Firmware variant</source>
        <translation>Variante del firmware</translation>
    </message>
    <message>
        <source>Firmware download</source>
        <translation>Descarga del firmware</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Actualizar</translation>
    </message>
</context>
<context>
    <name>trident::ProgrammingProgress</name>
    <message>
        <source>Programming the board: %1 %</source>
        <translation>Programando la placa: %1 %</translation>
    </message>
</context>
<context>
    <name>trident::ViewController</name>
    <message>
        <source>Download Update File From FTP , Please wait</source>
        <translation>Descargando el archivo de actualización del servidor. Espere, por favor</translation>
    </message>
    <message>
        <source>Press and hold the button, then connect it to the MAC.</source>
        <translation>Mantenga pulsado el botón y conecte la placa al Mac.</translation>
    </message>
    <message>
        <source>Press and hold the button, then connect it to the computer.</source>
        <translation>Mantenga pulsado el botón y conecte la placa al ordenador.</translation>
    </message>
    <message>
        <source>Click Button to start update</source>
        <translation>Haga clic en el botón para iniciar la actualización</translation>
    </message>
    <message>
        <source>DO NOT Remove the Controller</source>
        <translation>NO desconecte el mando</translation>
    </message>
    <message>
        <source>Firmware successfully updated.</source>
        <translation>El firmware se ha actualizado correctamente.</translation>
    </message>
    <message>
        <source>The Setup didn&apos;t finish and will restart.</source>
        <translation>La instalación no ha terminado y deberá empezar de nuevo.</translation>
    </message>
    <message>
        <source>Something wrong , Can&apos;t Download File From FTP</source>
        <translation>Algo ha fallado: no se puede descargar el archivo del servidor</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Salir</translation>
    </message>
    <message>
        <source>The lastest version: %1</source>
        <translation>Última versión: %1</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Actualizar</translation>
    </message>
    <message>
        <source>Downloading: %1 KB</source>
        <translation>Descargando: %1 KB</translation>
    </message>
    <message>
        <source>Downloading: %1 of %2 KB</source>
        <translation>Descargando: %1 de %2 KB</translation>
    </message>
    <message>
        <source>The board is being programmed. If you quit now it keeps its bootloader and needs updating again. Quit anyway?</source>
        <translation>Se está programando la placa. Si sale ahora, se quedará en su cargador de arranque y habrá que volver a actualizarla. ¿Salir de todos modos?</translation>
    </message>
</context>
<context>
    <name>trident::WindowAccessibility</name>
    <message>
        <source>Firmware variant</source>
        <translation>Variante del firmware</translation>
    </message>
    <message>
        <source>The firmware to put on the board</source>
        <translation>El firmware que se instalará en la placa</translation>
    </message>
    <message>
        <source>Board with the button to hold</source>
        <translation>Placa con el botón que hay que mantener pulsado</translation>
    </message>
    <message>
        <source>Hold the button the arrow points at while you plug in the board&apos;s USB cable.</source>
        <translation>Mantenga pulsado el botón que señala la flecha mientras conecta el cable USB de la placa.</translation>
    </message>
    <message>
        <source>Loading</source>
        <translation>Cargando</translation>
    </message>
    <message>
        <source>The newest firmware on the update server</source>
        <translation>El firmware más reciente del servidor de actualizaciones</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Estado</translation>
    </message>
    <message>
        <source>How much of the firmware has been downloaded</source>
        <translation>Cuánto firmware se ha descargado</translation>
    </message>
    <message>
        <source>Update complete</source>
        <translation>Actualización completada</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>La actualización ha fallado</translation>
    </message>
</context>
</TS>
