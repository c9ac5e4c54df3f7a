<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr" sourcelanguage="en">
<context>
    <name>Alert</name>
    <message>
        <source>Error: The board stopped answering. Unplug it, hold its button and plug it in again.</source>
        <translation>Erreur : la carte ne répond plus. Débranchez-la, maintenez son bouton enfoncé et rebranchez-la.</translation>
    </message>
    <message>
        <source>Error: Please check your network</source>
        <translation>Erreur : vérifiez votre connexion réseau</translation>
    </message>
    <message>
        <source>Error: The firmware file is damaged (line %1)</source>
        <translation>Erreur : le fichier du firmware est endommagé (ligne %1)</translation>
    </message>
    <message>
        <source>Error: The firmware file is too large for this board</source>
        <translation>Erreur : le fichier du firmware est trop volumineux pour cette carte</translation>
    </message>
    <message>
        <source>Error: The firmware file holds no firmware data</source>
        <translation>Erreur : le fichier du firmware ne contient aucune donnée de firmware</translation>
    </message>
    <message>
        <source>Parse txt file error</source>
        <translation>Impossible de lire le fichier de description de la version</translation>
    </message>
    <message>
        <source>checkSumStr error</source>
        <translation>La somme de contrôle de la version n&apos;est pas valide</translation>
    </message>
    <message>
        <source>The release is not signed by its publisher.</source>
        <translation>La version n&apos;est pas signée par son éditeur.</translation>
    </message>
    <message>
        <source>The firmware does not match its release.</source>
        <translation>Le firmware ne correspond pas à sa version.</translation>
    </message>
    <message>
        <source>No firmware release has been read from the update server</source>
        <translation>Aucune version du firmware n&apos;a encore été lue sur le serveur de mise à jour</translation>
    </message>
    <message>
        <source>The firmware file has no valid address on the update server %1</source>
        <translation>Le fichier du firmware n&apos;a pas d&apos;adresse valide sur le serveur de mise à jour %1</translation>
    </message>
    <message>
        <source>Cannot write the firmware file %1: %2</source>
        <translation>Impossible d&apos;écrire le fichier du firmware %1 : %2</translation>
    </message>
    <message>
        <source>Cannot start a network transfer</source>
        <translation>Impossible de démarrer le transfert réseau</translation>
    </message>
    <message>
        <source>Cannot set up the network transfer: %1</source>
        <translation>Impossible de préparer le transfert réseau : %1</translation>
    </message>
    <message>
        <source>The server sent more than %1 bytes</source>
        <translation>Le serveur a envoyé plus de %1 octets</translation>
    </message>
    <message>
        <source>The server announced %1 bytes, more than %2</source>
        <translation>Le serveur a annoncé %1 octets, au-delà de la limite de %2</translation>
    </message>
    <message>
        <source>The server has not answered for %1 s</source>
        <translation>Le serveur ne répond plus depuis %1 s</translation>
    </message>
</context>
<context>
    <name>ViewController</name>
    <message>
        <source>Trident Updater</source>
        <translation>Outil de mise à jour Trident</translation>
    </message>
    <message>
        <source>Firmware variant</source>
        <translation>Variante du firmware</translation>
    </message>
    <message>
        <source>Firmware download</source>
        <translation>Téléchargement du firmware</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Mettre à jour</translation>
    </message>
</context>
<context>
    <name>trident::ProgrammingProgress</name>
    <message>
        <source>Programming the board: %1 %</source>
        <translation>Programmation de la carte : %1 %</translation>
    </message>
</context>
<context>
    <name>trident::ViewController</name>
    <message>
        <source>Download Update File From FTP , Please wait</source>
        <translation>Téléchargement du fichier de mise à jour depuis le serveur, veuillez patienter</translation>
    </message>
    <message>
        <source>Press and hold the button, then connect it to the MAC.</source>
        <translation>Maintenez le bouton enfoncé, puis branchez la carte sur le Mac.</translation>
    </message>
    <message>
        <source>Press and hold the button, then connect it to the computer.</source>
        <translation>Maintenez le bouton enfoncé, puis branchez la carte sur l&apos;ordinateur.</translation>
    </message>
    <message>
        <source>Click Button to start update</source>
        <translation>Cliquez sur le bouton pour lancer la mise à jour</translation>
    </message>
    <message>
        <source>DO NOT Remove the Controller</source>
        <translation>NE débranchez PAS la manette</translation>
    </message>
    <message>
        <source>Firmware successfully updated.</source>
        <translation>Le firmware a été mis à jour.</translation>
    </message>
    <message>
        <source>The Setup didn&apos;t finish and will restart.</source>
        <translation>L&apos;installation n&apos;est pas terminée et devra recommencer.</translation>
    </message>
    <message>
        <source>Something wrong , Can&apos;t Download File From FTP</source>
        <translation>Un problème est survenu : impossible de télécharger le fichier depuis le serveur</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Quitter</translation>
    </message>
    <message>
        <source>The lastest version: %1</source>
        <translation>Dernière version : %1</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Mettre à jour</translation>
    </message>
    <message>
        <source>Downloading: %1 KB</source>
        <translation>Téléchargement : %1 Ko</translation>
    </message>
    <message>
        <source>Downloading: %1 of %2 KB</source>
        <translation>Téléchargement : %1 sur %2 Ko</translation>
    </message>
    <message>
        <source>The board is being programmed. If you quit now it keeps its bootloader and needs updating again. Quit anyway?</source>
        <translation>La carte est en cours de programmation. Si vous quittez maintenant, elle reste dans son chargeur d&apos;amorçage et devra être mise à jour à nouveau. Quitter quand même ?</translation>
    </message>
</context>
<context>
    <name>trident::WindowAccessibility</name>
    <message>
        <source>Firmware variant</source>
        <translation>Variante du firmware</translation>
    </message>
    <message>
        <source>The firmware to put on the board</source>
        <translation>Le firmware à installer sur la carte</translation>
    </message>
    <message>
        <source>Board with the button to hold</source>
        <translation>Carte avec le bouton à maintenir enfoncé</translation>
    </message>
    <message>
        <source>Hold the button the arrow points at while you plug in the board&apos;s USB cable.</source>
        <translation>Maintenez enfoncé le bouton indiqué par la flèche pendant que vous branchez le câble USB de la carte.</translation>
    </message>
    <message>
        <source>Loading</source>
        <translation>Chargement</translation>
    </message>
    <message>
        <source>The newest firmware on the update server</source>
        <translation>Le firmware le plus récent sur le serveur de mise à jour</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>État</translation>
    </message>
    <message>
        <source>How much of the firmware has been downloaded</source>
        <translation>Quantité du firmware déjà téléchargée</translation>
    </message>
    <message>
        <source>Update complete</source>
        <translation>Mise à jour terminée</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>Échec de la mise à jour</translation>
    </message>
</context>
</TS>
